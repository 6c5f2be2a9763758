/* Orvex: the ground program of the Q7 oblique survey camera. */
#include "OrvexPages.h"
#include "ScreenshotTour.h"
#include "platform/AppPaths.h"
#include "platform/AppSettings.h"
#include "platform/CrashReporter.h"
#include "shell/ModalPresenter.h"
#include "shell/Orvex.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QMessageBox>
#include <QThread>
#include <QTranslator>

#include <cstdio>
#include <cstring>

namespace {

const char usage[] = "usage: Orvex [--camera-address A] [--camera-port P] [--screenshots DIR]\n"
                     "The ground program of the Q7 five-lens oblique survey camera.\n"
                     "\n"
                     "  --camera-address A  the camera's IPv4 address for this run (not saved)\n"
                     "  --camera-port P     the camera's UDP port for this run (not saved)\n"
                     "  --screenshots DIR   save pictures of the window's pages into DIR and quit\n"
                     "  --version           the program's version\n"
                     "  --help              this text\n";

/* --version and --help answer without a display: before any QApplication exists. */
bool answeredWithoutWindow(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Orvex %s\n", ORVEX_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (answeredWithoutWindow(argc, argv))
        return 0;
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvex"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvex"));

    QTranslator translator;
    if (translator.load(QStringLiteral(":/Orvex/res/qt_zh_CN.qm")))
        QCoreApplication::installTranslator(&translator);

    const QString dumpDir = AppPaths::dumpDir();
    if (dumpDir.isEmpty())
        QMessageBox::critical(nullptr, QStringLiteral("ERROR"),
                              QStringLiteral("Create Dump Dir Failed"));
    else
        CrashReporter::install(dumpDir);

    QString error;
    if (!AppSettings::applyCommandLine(QCoreApplication::arguments(), error)) {
        std::fprintf(stderr, "orvex: %s\n", qPrintable(error));
        return 2;
    }

    qDebug() << "GUI thread" << QThread::currentThreadId();

    ModalPresenter presenter;
    DialogPresenter::install(&presenter);

    installOrvexPages();
    Orvex *window = Orvex::instance();
    window->show();
    window->setWindowIcon(QIcon(QStringLiteral(":/Orvex/res/Tip.png")));

    /* --screenshots DIR: save pictures of the window, disconnected and connected, then quit. */
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype at = arguments.indexOf(QStringLiteral("--screenshots"));
    ScreenshotTour tour(at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : QString());
    if (at >= 0)
        tour.start();
    return app.exec();
}
