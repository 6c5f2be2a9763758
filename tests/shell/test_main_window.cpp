// The main window and the connection manager, offscreen, against real frames and q7sim.
#include "RecordingPresenter.h"
#include "app/OrvexPages.h"
#include "loopback_peer.h"
#include "sim_frames.h"
#include "sim_process.h"

#include "pages/DeviceInfo.h"
#include "platform/AppPaths.h"
#include "platform/AppSettings.h"
#include "platform/WifiNetwork.h"
#include "pos/DownloadData.h"
#include "shell/CameraFields.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"
#include "shell/TitleBar.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using StatusDisplay::Icon;

namespace {

/* Receive threads of this process: they carry the name Tele_Recv. */
int receiveThreads()
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "Tele_Recv")
            ++count;
    }
    return count;
}

/* A camera played by the test: it hears the link's hello and answers with frames. */
class LoopbackCamera : public LoopbackPeer {
public:
    bool receiveHello() { return receive(3000).size() == 36; }
};

void pointAt(const QString &address, unsigned port)
{
    QString error;
    QVERIFY2(AppSettings::applyCommandLine({QStringLiteral("orvex"),
                                            QStringLiteral("--camera-address"), address,
                                            QStringLiteral("--camera-port"), QString::number(port)},
                                           error),
             qPrintable(error));
}

void press(Mylabel *label)
{
    emit label->clicked();
}

void pressConnect()
{
    QNetConfig *config = QNetConfig::instance();
    QMetaObject::invokeMethod(config, "onClicked", Qt::DirectConnection);
}

q7sim::Bytes identity(int major, int minor, const char *serial)
{
    q7sim::Bytes frame = q7sim::command_frame('R');
    frame[4] = 0xFE;
    frame[12] = static_cast<uint8_t>(major);
    frame[13] = static_cast<uint8_t>(minor);
    memcpy(&frame[14], serial, 15);
    q7sim::seal(frame);
    return frame;
}

q7sim::Bytes status(uint16_t total, const uint16_t counts[5], uint8_t byte25)
{
    q7sim::Bytes frame = q7sim::command_frame('C');
    q7sim::put_be16(frame, 5, total);
    for (int i = 0; i < 5; ++i)
        q7sim::put_be16(frame, 15 + 2 * i, counts[i]);
    frame[25] = byte25;
    q7sim::seal(frame);
    return frame;
}

q7sim::Bytes configuration(uint8_t mode, uint16_t timed, uint16_t distance)
{
    q7sim::Bytes frame = q7sim::command_frame('A');
    frame[4] = mode;
    frame[8] = mode;
    q7sim::put_le16(frame, 8 + 20, timed);
    q7sim::put_le16(frame, 8 + 22, distance);
    q7sim::seal(frame);
    return frame;
}

q7sim::Bytes position(uint8_t satellites, uint8_t receiver)
{
    q7sim::Bytes frame = q7sim::command_frame('B');
    q7sim::put_be32(frame, 4, 116300000);
    q7sim::put_be32(frame, 8, 39900000);
    frame[16] = satellites;
    frame[33] = receiver;
    q7sim::seal(frame);
    return frame;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        qputenv("ORVEX_DATA_DIR", m_data.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        installOrvexPages();
        Orvex::instance()->show();
        QVERIFY(QTest::qWaitForWindowExposed(Orvex::instance()));
    }

    void cleanup()
    {
        /* Every test ends disconnected, with no link. */
        if (Orvex::instance()->connected)
            pressConnect();
        QNetConfig::instance()->closeLink();
        WIFI::setSource({});
        m_presenter.warnings.clear();
    }

    void startsDisconnected()
    {
        Orvex *window = Orvex::instance();
        QCOMPARE(window->size(), QSize(760, 540));
        QCOMPARE(window->objectName(), QStringLiteral("OrvexClass"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Orvex"));
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!window->mask().isEmpty());
        QVERIFY(!window->mask().contains(QPoint(0, 0))); // rounded corner
        QVERIFY(window->mask().contains(QPoint(380, 270)));
        QVERIFY(!window->statusVisible());
        QVERIFY(!window->pageStackVisible());
        QVERIFY(!window->navigationEntry(1)->isEnabled());
        QCOMPARE(window->linkButtonImage(), QStringLiteral(":/Orvex/res/new duan.png"));
        QCOMPARE(window->navigationImage(0), QStringLiteral(":/Orvex/res/deviceInfo_selected.png"));
        QCOMPARE(QNetConfig::instance()->stateText(), QStringLiteral("未连接"));
    }

    void navigationWithoutLinkOnlyShowsPages()
    {
        Orvex *window = Orvex::instance();
        press(window->navigationEntry(3));
        QVERIFY(window->pageStackVisible());
        QCOMPARE(window->currentPage(), 3);
        QCOMPARE(window->navigationImage(3), QStringLiteral(":/Orvex/res/possele.png"));
        QCOMPARE(window->navigationImage(0), QStringLiteral(":/Orvex/res/deviceInfo_normal.png"));
        QVERIFY(!DownloadData::instance()->lensOptionVisible());
        press(window->navigationEntry(0));
        QCOMPARE(window->currentPage(), 0);
        QVERIFY(!DeviceInfo::instance()->identityVisible());
        QVERIFY(m_presenter.warnings.isEmpty());
    }

    void wifiChecks_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("ssid");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<bool>("connected");
        QTest::newRow("no network") << 0 << ""
                                    << "未连接WIFI!" << false;
        QTest::newRow("lookup failed") << -1 << ""
                                       << "未连接WIFI!" << false;
        QTest::newRow("lower-case q7") << 0 << "q7-0012"
                                       << "请连接Q7相机的WIFI！" << false;
        QTest::newRow("Q7 later in the name") << 0 << "HomeQ7"
                                              << "请连接Q7相机的WIFI！" << false;
        QTest::newRow("camera network") << 0 << "Q7-0012"
                                        << "" << true;
    }
    void wifiChecks()
    {
        QFETCH(int, result);
        QFETCH(QString, ssid);
        QFETCH(QString, warning);
        QFETCH(bool, connected);
        pointAt(QStringLiteral("192.0.2.1"), 8899);
        WIFI::setSource([=](QString &name) {
            name = ssid;
            return result;
        });
        pressConnect();
        Orvex *window = Orvex::instance();
        QCOMPARE(window->connected, connected);
        QCOMPARE(m_presenter.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
        QVERIFY(QNetConfig::instance()->link()); // the link stays open either way
        if (connected) {
            QCOMPARE(QNetConfig::instance()->networkName(), ssid);
            QCOMPARE(QNetConfig::instance()->stateText(), QStringLiteral("已连接"));
            QCOMPARE(QNetConfig::instance()->captionText(), QStringLiteral("断开"));
            QCOMPARE(window->linkButtonImage(), QStringLiteral(":/Orvex/res/wifi.png"));
            QVERIFY(DownloadData::instance()->transferManager());
        }
    }

    void statusPanelFollowsTheCameraHandle()
    {
        LoopbackCamera camera;
        pointAt(QStringLiteral("127.0.0.1"), camera.port);
        pressConnect();
        Orvex *window = Orvex::instance();
        QVERIFY(window->connected);
        QVERIFY(camera.receiveHello());
        QCOMPARE(QNetConfig::instance()->networkName(), QStringLiteral("localhost"));
        QVERIFY(window->statusVisible());
        q7x_t *handle = QNetConfig::instance()->cameraHandle();

        /* Frames sent one round at a time; each round counts three on the handle's index. */
        auto round = [&](const QList<q7sim::Bytes> &frames, uint32_t indexAfter) {
            for (const auto &frame : frames)
                camera.send(frame);
            QTRY_COMPARE(q7x_get_index(handle), indexAfter);
            window->onTimeout();
        };

        const uint16_t counts[5] = {7, 7, 6, 7, 5};
        camera.send(identity(4, 41, "Q7A160800012345"));
        QTRY_COMPARE(CameraFields::load(handle->version_minor), uint8_t(41));
        round({configuration(2, 25, 0), status(7, counts, 0x80 | 0b10110), position(3, 1)}, 3);
        QCOMPARE(window->strategyCaption(), QStringLiteral("采集策略："));
        QCOMPARE(window->strategyValue(), QStringLiteral("定时2.00s"));
        QCOMPARE(window->photoCount(), QStringLiteral("7"));
        QCOMPARE(window->satelliteCount(), QStringLiteral("3"));
        QCOMPARE(window->gpsText(), QStringLiteral("GPS未定位"));
        QCOMPARE(window->faultText(), QStringLiteral("1号、4号相机故障，请检查"));
        QVERIFY(window->cameraIconYellow(Icon::Top));
        QVERIFY(window->cameraIconYellow(Icon::Left));
        QVERIFY(!window->cameraIconYellow(Icon::Right));
        QVERIFY(!window->cameraIconYellow(Icon::Centre));

        /* Old firmware reads the fault bits the other way round. */
        camera.send(identity(4, 40, "Q7A160800012345"));
        QTRY_COMPARE(CameraFields::load(handle->version_minor), uint8_t(40));
        round({configuration(3, 0, 1005), status(7, counts, 0), position(9, 0)}, 6);
        QCOMPARE(window->strategyValue(), QStringLiteral("定距100.5m"));
        QCOMPARE(window->gpsText(), QStringLiteral("GPS硬件故障"));
        /* Cameras 3 and 5 lag behind the total: bits 2 and 4, top and centre. */
        QCOMPARE(window->faultText(), QStringLiteral("3号、5号相机故障，请检查"));
        QVERIFY(window->cameraIconYellow(Icon::Top));
        QVERIFY(window->cameraIconYellow(Icon::Centre));
        QVERIFY(!window->cameraIconYellow(Icon::Left));

        round({configuration(1, 0, 0)}, 7);
        QCOMPARE(window->strategyCaption(), QStringLiteral("当前策略："));
        QCOMPARE(window->strategyValue(), QStringLiteral("调试模式"));
    }

    void connectsToTheSimulatedCamera()
    {
        SimProcess sim({"--serial", "Q7X416080001234", "--satellites", "11", "--rate", "10"});
        QVERIFY2(sim.running(), qPrintable(QString::fromStdString(sim.error())));
        pointAt(QStringLiteral("127.0.0.1"), sim.port());
        pressConnect();
        Orvex *window = Orvex::instance();
        QVERIFY(window->connected);
        QCOMPARE(window->cameraConnected, 1);
        QVERIFY(window->navigationEntry(1)->isEnabled());

        QTRY_COMPARE_WITH_TIMEOUT(window->satelliteCount(), QStringLiteral("11"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(window->gpsText(), QStringLiteral("GPS已定位"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(DeviceInfo::instance()->serialText(),
                                  QStringLiteral("Q7X416080001234"), 5000);
        QCOMPARE(DeviceInfo::instance()->versionText(), QStringLiteral("V4.41"));
        QTRY_COMPARE_WITH_TIMEOUT(DeviceInfo::instance()->releaseDateText(),
                                  QStringLiteral("2016-08-25"), 5000);
        QCOMPARE(window->posRecordSize, 52);
        /* The camera reports its self-check until it has finished it. */
        QTRY_COMPARE_WITH_TIMEOUT(window->faultText(), QString(), 5000);

        press(window->navigationEntry(3));
        QVERIFY(DownloadData::instance()->lensOptionVisible());
        QCOMPARE(CameraFields::load(DownloadData::instance()->transferManager()->lens_mode), 1u);

        pressConnect(); // disconnect
        QVERIFY(!window->connected);
        QCOMPARE(window->cameraConnected, 0);
        QVERIFY(!QNetConfig::instance()->link());
        QVERIFY(!window->statusVisible());
        QCOMPARE(QNetConfig::instance()->stateText(), QStringLiteral("未连接"));
    }

    void silentCameraIsDeclaredLostUnlessAnUpgradeRuns()
    {
        SimProcess sim({"--silent-after", "1", "--rate", "10"});
        QVERIFY2(sim.running(), qPrintable(QString::fromStdString(sim.error())));
        pointAt(QStringLiteral("127.0.0.1"), sim.port());
        pressConnect();
        Orvex *window = Orvex::instance();
        QVERIFY(window->connected);

        /* The real 5 s check: the first sees frames, the second sees none. */
        QTRY_VERIFY_WITH_TIMEOUT(!m_presenter.warnings.isEmpty(), 15000);
        QCOMPARE(m_presenter.warnings,
                 QStringList{QStringLiteral("相机断开|请检查相机供电和本地WIFI连接！")});
        QVERIFY(!window->connected);
        QCOMPARE(window->cameraConnected, 0);
        QVERIFY(!window->statusVisible());

        /* The link is kept: a new connect reuses it and runs no second receive thread. */
        rvtele_t *link = QNetConfig::instance()->link();
        q7x_t *camera = QNetConfig::instance()->cameraHandle();
        QVERIFY(link && camera);
        QCOMPARE(receiveThreads(), 1);
        pressConnect();
        QVERIFY(window->connected);
        QCOMPARE(QNetConfig::instance()->link(), link);
        QCOMPARE(QNetConfig::instance()->cameraHandle(), camera);
        QCOMPARE(receiveThreads(), 1);

        /* While an upgrade runs, silence is not a loss. */
        m_presenter.warnings.clear();
        posfile_manager_t *manager = DownloadData::instance()->transferManager();
        QVERIFY(manager);
        CameraFields::store(manager->activity, POSFILE_ACTIVITY_UPGRADE);
        QNetConfig::instance()->onTimeoutcheck();
        QNetConfig::instance()->onTimeoutcheck();
        QVERIFY(m_presenter.warnings.isEmpty());
        QVERIFY(window->connected);
        CameraFields::store(manager->activity, 0u);
        QNetConfig::instance()->onTimeoutcheck();
        QCOMPARE(m_presenter.warnings.size(), 1);
        QVERIFY(!window->connected);
    }

    void closeButtonWarnsThePagesBeforeTheWindowCloses()
    {
        Orvex *window = Orvex::instance();
        Mylabel *close = nullptr;
        for (Mylabel *button : window->titleBar()->findChildren<Mylabel *>())
            if (button->toolTip() == QStringLiteral("关闭"))
                close = button;
        QVERIFY(close);
        bool visibleAtSignal = false;
        connect(window->titleBar(), &TitleBar::signalclose, this,
                [&] { visibleAtSignal = window->isVisible(); });
        QSignalSpy spy(window->titleBar(), &TitleBar::signalclose);
        press(close);
        QCOMPARE(spy.count(), 1);
        QVERIFY(visibleAtSignal);
        QVERIFY(!window->isVisible());
    }

    void missingHelpDocumentNamesWhereItWasLookedFor()
    {
        m_presenter.warnings.clear();
        const QString name = QStringLiteral("no such guide.pdf");
        QVERIFY(!TitleBar::openHelpDocument(Orvex::instance(), name));
        QCOMPARE(m_presenter.warnings.size(), 1);
        const QString warning = m_presenter.warnings.first();
        QVERIFY2(warning.startsWith(QStringLiteral("找不到帮助文档") + name +
                                    QStringLiteral("|已查找：")),
                 qPrintable(warning));
        QVERIFY(warning.contains(QCoreApplication::applicationDirPath()));
        QVERIFY(warning.contains(AppPaths::installedDataDir()));
    }

private:
    QTemporaryDir m_data;
    RecordingPresenter m_presenter;
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
