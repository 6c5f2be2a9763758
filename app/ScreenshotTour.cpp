#include "ScreenshotTour.h"

#include "cards/ReductionWidget.h"
#include "dataservice/DataService.h"
#include "pages/CollectAssistant.h"
#include "pages/ConfigTesUi.h"
#include "platform/DialogPresenter.h"
#include "pos/DownloadData.h"
#include "shell/AirSerial.h"
#include "shell/FramelessWindow.h"
#include "shell/MyFlyUi.h"
#include "shell/MyTipUi.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"
#include "tools/ModifyWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QTimer>

#include <cstdio>
#include <utility>

/* Answers for the tour: messages go to standard error, files are saved into its folder. */
class TourPresenter : public DialogPresenter {
public:
    explicit TourPresenter(const QString &saveAs) : m_saveAs(saveAs) {}
    QStringList folders; /* answers to folder questions, in turn */
    QStringList files;   /* answers to open-file questions, in turn */
    QStringList messages;
    QString questionShot; /* where the next question is saved as it would be shown; then none */
    void warn(QWidget *, const QString &line1, const QString &line2) override
    {
        std::fprintf(stderr, "orvex: message: %s %s\n", qPrintable(line1), qPrintable(line2));
        messages << line1;
    }
    bool ask(QWidget *anchor, const QString &question) override
    {
        if (!questionShot.isEmpty()) {
            MyTipUi box(question, anchor);
            if (anchor)
                FramelessWindow::centreOn(&box, anchor);
            box.show();
            QCoreApplication::processEvents();
            box.grab().save(std::exchange(questionShot, QString()));
            box.close();
        }
        return true;
    }
    QString askSaveFile(QWidget *, const QString &, const QString &, const QString &) override
    {
        return m_saveAs;
    }
    QString askDirectory(QWidget *, const QString &, const QString &) override
    {
        return folders.isEmpty() ? QString() : folders.takeFirst();
    }
    QString askOpenFile(QWidget *, const QString &, const QString &) override
    {
        return files.isEmpty() ? QString() : files.takeFirst();
    }

private:
    QString m_saveAs;
};

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
            visitDevicePages();
        });
    });
}

/* The strategy page as the camera's record set it, the debug page, then a flight plan. */
void ScreenshotTour::visitDevicePages()
{
    emit Orvex::instance()->navigationEntry(Orvex::ConfigTestEntry)->clicked();
    auto *config = qobject_cast<ConfigTesUi *>(Orvex::instance()->currentPageWidget());
    QTimer::singleShot(1500, this, [this, config] {
        save(QStringLiteral("strategy-page.png"));
        if (config)
            config->selectTab(ConfigTesUi::DebugTab);
        QTimer::singleShot(1000, this, [this] {
            save(QStringLiteral("debug-page.png"));
            emit Orvex::instance()->navigationEntry(Orvex::AssistantEntry)->clicked();
            if (auto *assistant =
                    qobject_cast<CollectAssistant *>(Orvex::instance()->currentPageWidget())) {
                assistant->gsdEdit()->setText(QStringLiteral("5"));
                assistant->focalEdit()->setText(QStringLiteral("35"));
                assistant->onCalculate();
            }
            QTimer::singleShot(300, this, [this] {
                save(QStringLiteral("assistant-page.png"));
                visitPosPage();
            });
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
    m_tourPresenter = static_cast<TourPresenter *>(m_presenter.get());
    m_previousPresenter = DialogPresenter::install(m_presenter.get());
    page->setRowChecked(2, true);
    page->setRowChecked(5, true);
    emit page->downloadButton()->clicked();
    when([page] { return page->statusText() == QStringLiteral("下载成功！"); }, 60,
         QStringLiteral("the POS download"),
         [this] {
             save(QStringLiteral("pos-page-downloaded.png"));
             visitImagePage();
         });
}

/*
 * The five cards: the exFAT loop-device cards that scripts/run.sh mounted
 * (ORVEX_TOUR_CARDS, as root), or else five folders of photos. They get
 * photos and the still cameras' card files, and with a POS table the image
 * data page offloads them.
 */
void ScreenshotTour::visitImagePage()
{
    const QString root = QDir(m_folder).absoluteFilePath(QStringLiteral("offload-demo"));
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    QByteArray table = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \r\n";
    for (int k = 0; k < 24; ++k)
        table += QStringLiteral("%1 \t116.%2 \t39.%3 \t520.000 \t1.70 \t0.0 \t0.0 \t0.00 \t20.0 \t"
                                "2023-06-14 11-%4-00 \t \r\n")
                     .arg(k + 1)
                     .arg(3351344 + 300 * k)
                     .arg(9115668 + 300 * k)
                     .arg(k, 2, 10, QLatin1Char('0'))
                     .toUtf8();
    QFile pos(root + QStringLiteral("/pos.xls"));
    if (pos.open(QIODevice::WriteOnly))
        pos.write(table);
    pos.close();
    QImage picture(1600, 1200, QImage::Format_RGB32);
    QRandomGenerator random(7);
    const QStringList words = {QStringLiteral("Center"), QStringLiteral("Left"),
                               QStringLiteral("Right"), QStringLiteral("Front"),
                               QStringLiteral("Back")};
    const QString loopCards = qEnvironmentVariable("ORVEX_TOUR_CARDS");
    const QString cards = loopCards.isEmpty() ? root + QStringLiteral("/cards") : loopCards;
    for (const QString &word : words) {
        const QString card = cards + QLatin1Char('/') + word;
        const QString folder = card + QStringLiteral("/DCIM/100MEDIA");
        QDir().mkpath(folder);
        QDir().mkpath(card + QStringLiteral("/AVF_INFO"));
        QDir().mkpath(card + QStringLiteral("/PRIVATE/SONY"));
        for (const char *name :
             {"AVF_INFO/AVIN0001.BNP", "AVF_INFO/AVIN0001.INP", "AVF_INFO/AVIN0001.INT",
              "AVF_INFO/PRV00001.BIN", "PRIVATE/SONY/SONYCARD.IND"}) {
            QFile file(card + QLatin1Char('/') + QLatin1String(name));
            if (file.open(QIODevice::WriteOnly))
                file.write(word.toUtf8() + " card file " + name + '\n');
        }
        for (int k = 0; k < 24; ++k) {
            for (int y = 0; y < picture.height(); y += 4)
                for (int x = 0; x < picture.width(); x += 4)
                    picture.setPixel(x, y, random.generate());
            picture.save(folder + QStringLiteral("/K%1.JPG").arg(k, 4, 10, QLatin1Char('0')), "JPG",
                         95);
        }
        m_tourPresenter->folders << folder;
    }
    m_tourPresenter->folders << root + QStringLiteral("/save");
    m_tourPresenter->files << root + QStringLiteral("/pos.xls");

    emit Orvex::instance()->navigationEntry(Orvex::ImageEntry)->clicked();
    DataService *page = DataService::instance();
    for (int disk = 0; disk < 5; ++disk)
        emit page->lensButton(disk)->clicked();
    emit page->browseButton()->clicked();
    page->addButton()->click();
    when([page] { return page->text().contains(QStringLiteral("添加成功")); }, 20,
         QStringLiteral("the POS table"),
         [this, page] {
             page->sortieBox()->setChecked(true);
             page->splitBox()->setChecked(true);
             page->sizeEdit()->setText(QStringLiteral("20"));
             page->unitBox()->setCurrentIndex(1);
             emit page->startControl()->clicked();
             when([page] { return page->progress() >= 30; }, 60,
                  QStringLiteral("the offload's progress"),
                  [this] {
                      save(QStringLiteral("image-page-running.png"));
                      when(
                          [this] {
                              return m_tourPresenter->messages.contains(
                                  QStringLiteral("传输已经完成！"));
                          },
                          120, QStringLiteral("the offload"),
                          [this] {
                              save(QStringLiteral("image-page-done.png"));
                              visitClearingPage();
                          });
                  });
         });
}

/*
 * The clearing page with the cards measured; on the loop-device cards the
 * tour also clears them (they are the tour's own) and shows the result.
 */
void ScreenshotTour::visitClearingPage()
{
    emit Orvex::instance()->navigationEntry(Orvex::ClearEntry)->clicked();
    ReductionWidget *page = ReductionWidget::instance();
    const bool loopCards = !qEnvironmentVariable("ORVEX_TOUR_CARDS").isEmpty();
    when([page, loopCards] { return !loopCards || page->cardsPresent(); }, 10,
         QStringLiteral("the card measurement"),
         [this, page, loopCards] {
             QTimer::singleShot(500, this, [this, page, loopCards] {
                 save(QStringLiteral("clearing-page.png"));
                 if (!loopCards) {
                     visitPhotoTool();
                     return;
                 }
                 /*
                  * A photo taken after the offload: the question names that
                  * card as without a verified copy, in red.
                  */
                 const QString later = qEnvironmentVariable("ORVEX_TOUR_CARDS") +
                                       QStringLiteral("/Back/DCIM/101MEDIA");
                 QDir().mkpath(later);
                 QFile photo(later + QStringLiteral("/LATER.JPG"));
                 if (photo.open(QIODevice::WriteOnly))
                     photo.write("taken after the offload");
                 photo.close();
                 m_tourPresenter->questionShot =
                     QDir(m_folder).absoluteFilePath(QStringLiteral("clearing-question.png"));
                 emit page->restoreButton()->clicked();
                 QTimer::singleShot(300, this, [this, page] {
                     if (MyFlyUi *box = page->waitBox())
                         box->grab().save(QDir(m_folder).absoluteFilePath(
                             QStringLiteral("clearing-wait-box.png")));
                     when([page] { return !page->working(); }, 120,
                          QStringLiteral("the clearing of the cards"),
                          [this, page] {
                              if (MyFlyUi *box = page->waitBox())
                                  box->close();
                              QTimer::singleShot(1500, this, [this] {
                                  save(QStringLiteral("clearing-page-done.png"));
                                  visitPhotoTool();
                              });
                          });
                 });
             });
         });
}

/* The photo tool, reached by the status panel's button, run over the offloaded copies. */
void ScreenshotTour::visitPhotoTool()
{
    emit Orvex::instance()->dataServiceButton()->clicked();
    auto *page = qobject_cast<ModifyWidget *>(Orvex::instance()->currentPageWidget());
    if (!page) {
        std::fprintf(stderr, "orvex: the photo tool did not open\n");
        ++m_failures;
        finish();
        return;
    }
    m_tourPresenter->folders = {
        QDir(m_folder).absoluteFilePath(QStringLiteral("offload-demo/save"))};
    page->onClicked2();
    page->onClicked();
    when([page] { return !page->running() && !page->status().isEmpty(); }, 60,
         QStringLiteral("the photo tool"),
         [this] {
             save(QStringLiteral("photo-tool.png"));
             finish();
         });
}

void ScreenshotTour::finish()
{
    QNetConfig::instance()->closeLink();
    QCoreApplication::exit(m_failures == 0 ? 0 : 1);
}
