#include "ScreenshotTour.h"

#include "platform/DialogPresenter.h"
#include "pos/DownloadData.h"
#include "shell/AirSerial.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTableWidget>
#include <QTimer>

#include <cstdio>

namespace {

/* Answers for the tour: messages go to standard error, files are saved into its folder. */
class TourPresenter : public DialogPresenter {
public:
    explicit TourPresenter(const QString &saveAs) : m_saveAs(saveAs) {}
    void warn(QWidget *, const QString &line1, const QString &line2) override
    {
        std::fprintf(stderr, "orvex: message: %s %s\n", qPrintable(line1), qPrintable(line2));
    }
    bool ask(QWidget *, const QString &) override { return true; }
    QString askSaveFile(QWidget *, const QString &, const QString &, const QString &) override
    {
        return m_saveAs;
    }

private:
    QString m_saveAs;
};

} // namespace

ScreenshotTour::ScreenshotTour(const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder)
{
}

ScreenshotTour::~ScreenshotTour()
{
    if (m_presenter)
        DialogPresenter::install(m_previousPresenter);
}

void ScreenshotTour::start()
{
    QDir().mkpath(m_folder);
    QTimer::singleShot(1000, this, [this] {
        save(QStringLiteral("main-window-disconnected.png"));
        connectCamera();
    });
}

bool ScreenshotTour::save(const QString &name)
{
    const QString path = QDir(m_folder).absoluteFilePath(name);
    if (!Orvex::instance()->grab().save(path)) {
        std::fprintf(stderr, "orvex: cannot save %s\n", qPrintable(path));
        ++m_failures;
        return false;
    }
    std::printf("orvex: saved %s\n", qPrintable(path));
    return true;
}

void ScreenshotTour::when(const std::function<bool()> &ready, int seconds, const QString &what,
                          const std::function<void()> &then)
{
    auto *timer = new QTimer(this);
    auto *clock = new QElapsedTimer;
    clock->start();
    connect(timer, &QTimer::timeout, this, [=, this] {
        const bool done = ready();
        if (!done && clock->elapsed() < seconds * 1000)
            return;
        timer->deleteLater();
        delete clock;
        if (!done) {
            std::fprintf(stderr, "orvex: %s did not happen within %d s\n", qPrintable(what),
                         seconds);
            ++m_failures;
        }
        then();
    });
    timer->start(200);
}

void ScreenshotTour::connectCamera()
{
    /* The link button opens the communication window; its button connects. */
    emit Orvex::instance()->linkButton()->clicked();
    QTimer::singleShot(800, this, [this] {
        const QString path =
            QDir(m_folder).absoluteFilePath(QStringLiteral("connection-window.png"));
        AirSerial::instance()->grab().save(path);
        QNetConfig::instance()->onClicked();
        AirSerial::instance()->hide();
        /* Give the camera time to report its identity and a few status rounds. */
        QTimer::singleShot(4000, this, [this] {
            if (!Orvex::instance()->connected) {
                std::fprintf(stderr, "orvex: the camera did not connect\n");
                ++m_failures;
            }
            save(QStringLiteral("main-window-connected.png"));
            visitPosPage();
        });
    });
}

void ScreenshotTour::visitPosPage()
{
    emit Orvex::instance()->navigationEntry(Orvex::PosEntry)->clicked();
    DownloadData *page = DownloadData::instance();
    when([page] { return page->table()->rowCount() == POSFILE_MAX_FILES; }, 30,
         QStringLiteral("the POS listing"),
         [this] {
             save(QStringLiteral("pos-page-listing.png"));
             downloadPos();
         });
}

void ScreenshotTour::downloadPos()
{
    DownloadData *page = DownloadData::instance();
    const QString folder = QDir(m_folder).absoluteFilePath(QStringLiteral("pos-tables"));
    QDir().mkpath(folder);
    m_presenter = std::make_unique<TourPresenter>(folder + QStringLiteral("/pos.xls"));
    m_previousPresenter = DialogPresenter::install(m_presenter.get());
    page->setRowChecked(2, true);
    page->setRowChecked(5, true);
    emit page->downloadButton()->clicked();
    when([page] { return page->statusText() == QStringLiteral("下载成功！"); }, 60,
         QStringLiteral("the POS download"),
         [this] {
             save(QStringLiteral("pos-page-downloaded.png"));
             finish();
         });
}

void ScreenshotTour::finish()
{
    QNetConfig::instance()->closeLink();
    QCoreApplication::exit(m_failures == 0 ? 0 : 1);
}
