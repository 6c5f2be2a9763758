// The program's pictures: every picture the code names is a resource that loads,
// and the state pictures of one control differ.
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

QSet<QString> resourcePictures()
{
    QSet<QString> names;
    QDirIterator it(QStringLiteral(":/Orvex/res"), {QStringLiteral("*.png")}, QDir::Files);
    while (it.hasNext())
        names.insert(it.next());
    return names;
}

/* Every ":/Orvex/res/NAME.png" written in the program's sources. */
QSet<QString> picturesNamedInSources()
{
    QSet<QString> names;
    const QRegularExpression literal(QStringLiteral("\":(/Orvex/res/[^\"]+\\.png)\""));
    for (const char *folder : {"shell", "pages", "pos", "dataservice", "cards", "tools"}) {
        QDirIterator it(QStringLiteral(ORVEX_SOURCE_DIR "/") + QLatin1String(folder),
                        {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
        while (it.hasNext()) {
            QFile source(it.next());
            if (!source.open(QIODevice::ReadOnly))
                continue;
            const QString text = QString::fromUtf8(source.readAll());
            for (const auto &match : literal.globalMatch(text))
                names.insert(QLatin1Char(':') + match.captured(1));
        }
    }
    return names;
}

} // namespace

class TestArtwork : public QObject {
    Q_OBJECT

private slots:
    void everyPictureLoads()
    {
        const QSet<QString> pictures = resourcePictures();
        QVERIFY(pictures.size() > 80);
        for (const QString &name : pictures) {
            const QImage image(name);
            QVERIFY2(!image.isNull(), qPrintable(name));
            QVERIFY2(image.width() >= 8 && image.height() >= 8, qPrintable(name));
        }
    }

    void everyPictureTheProgramNamesExists()
    {
        const QSet<QString> named = picturesNamedInSources();
        QVERIFY(named.size() > 30);
        const QSet<QString> pictures = resourcePictures();
        for (const QString &name : named)
            QVERIFY2(pictures.contains(name), qPrintable(name + " is not a resource"));
    }

    void statePicturesDiffer_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        const char *pairs[][2] = {
            {"deviceInfo_normal", "deviceInfo_selected"},
            {"configTest_normal", "configTest_selected"},
            {"collectAssistant_normal", "collectAssistant_selected"},
            {"posnor", "possele"},
            {"yingxiangnor", "yingxiangsele"},
            {"yingxiangqingkongnor", "yingxiangqingkongselect"},
            {"smallCamera_white", "smallCamera_yellow"},
            {"largeCamera_white", "largeCamera_yellow"},
            {"new duan", "net duan xuan"},
            {"wifi", "wifi-xuan"},
            {"new duan", "wifi"},
            {"btn_nor", "btn_blue_hover"},
            {"net ", "net normal"},
            {"chuankoushezhi", "chuankoushezhi  normal"},
        };
        for (const auto &pair : pairs)
            QTest::newRow(pair[0]) << QString::fromLatin1(pair[0]) << QString::fromLatin1(pair[1]);
    }
    void statePicturesDiffer()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        const QImage a(QStringLiteral(":/Orvex/res/%1.png").arg(first));
        const QImage b(QStringLiteral(":/Orvex/res/%1.png").arg(second));
        QVERIFY(!a.isNull() && !b.isNull());
        QCOMPARE(a.size(), b.size());
        QVERIFY(a.convertToFormat(QImage::Format_ARGB32) !=
                b.convertToFormat(QImage::Format_ARGB32));
    }

    void cameraIconsAreWhiteOrYellow()
    {
        /* The mean colour of the opaque pixels carries the icon's colour. */
        auto mean = [](const QString &name) {
            const QImage image = QImage(name).convertToFormat(QImage::Format_ARGB32);
            double r = 0, g = 0, b = 0;
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    if (c.alpha() > 200) {
                        r += c.red();
                        g += c.green();
                        b += c.blue();
                        ++n;
                    }
                }
            return n ? QColor(int(r / n), int(g / n), int(b / n)) : QColor();
        };
        for (const char *size : {"small", "large"}) {
            const QColor white =
                mean(QStringLiteral(":/Orvex/res/%1Camera_white.png").arg(QLatin1String(size)));
            const QColor yellow =
                mean(QStringLiteral(":/Orvex/res/%1Camera_yellow.png").arg(QLatin1String(size)));
            QVERIFY2(white.hslSaturation() < 40 && white.lightness() > 150, size);
            QVERIFY2(yellow.hslHue() >= 35 && yellow.hslHue() <= 65 && yellow.hslSaturation() > 120,
                     size);
        }
    }

    void translationIsBuiltIn()
    {
        QFile translation(QStringLiteral(":/Orvex/res/qt_zh_CN.qm"));
        QVERIFY(translation.open(QIODevice::ReadOnly));
        QVERIFY(translation.size() > 1000);
    }
};

QTEST_GUILESS_MAIN(TestArtwork)
#include "test_artwork.moc"
