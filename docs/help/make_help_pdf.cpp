/*
 * make_help_pdf: lays out the operator's guide into "R7 Izurudizi.pdf" at build time.
 *
 *   make_help_pdf GUIDE.html OUTPUT.pdf VERSION
 *
 * GUIDE.html is in Qt's rich-text subset; every chapter heading starts a page. Its pictures
 * (<img src="...">, relative to GUIDE.html) are loaded here, so that a missing screenshot
 * fails the build instead of leaving an empty frame. "@VERSION@" in the text becomes VERSION.
 * The text is set in Noto Sans CJK SC, which the PDF embeds. Runs without a display
 * (QT_QPA_PLATFORM=offscreen). The PDF is written through a temporary file and appears under
 * its name only when whole.
 */
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextDocument>
#include <QUrl>

#include <cstdio>

namespace {

const QString fontFamily = QStringLiteral("Noto Sans CJK SC");

int fail(const QString &message)
{
    std::fprintf(stderr, "make_help_pdf: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4)
        return fail(QStringLiteral("usage: make_help_pdf GUIDE.html OUTPUT.pdf VERSION"));
    const QString input = args.at(1);
    const QString output = args.at(2);
    const QString version = args.at(3);

    QFile source(input);
    if (!source.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(input, source.errorString()));
    QString html = QString::fromUtf8(source.readAll());
    html.replace(QStringLiteral("@VERSION@"), version);

    if (!QFontDatabase::families().contains(fontFamily))
        return fail(QStringLiteral("the font %1 is not installed (Debian: fonts-noto-cjk)")
                        .arg(fontFamily));
    QFont font(fontFamily);
    font.setPointSizeF(10.5);

    QTextDocument document;
    document.setDefaultFont(font);
    const QDir base = QFileInfo(input).absoluteDir();
    const QRegularExpression picture(QStringLiteral("<img\\s[^>]*src=\"([^\"]+)\""));
    for (const QRegularExpressionMatch &match : picture.globalMatch(html)) {
        const QString name = match.captured(1);
        const QString path = base.filePath(name);
        const QImage image(path);
        if (image.isNull())
            return fail(QStringLiteral("%1: the picture %2 cannot be read").arg(input, path));
        document.addResource(QTextDocument::ImageResource, QUrl(name), image);
    }
    document.setHtml(html);

    QSaveFile file(output);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("%1: %2").arg(output, file.errorString()));
    {
        QPdfWriter writer(&file);
        writer.setTitle(QStringLiteral("R7 Izurudizi 操作指南"));
        writer.setCreator(QStringLiteral("Orvex %1").arg(version));
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(4, 4, 4, 8), QPageLayout::Millimeter));
        document.print(&writer);
    }
    if (!file.commit())
        return fail(QStringLiteral("%1: %2").arg(output, file.errorString()));
    return 0;
}
