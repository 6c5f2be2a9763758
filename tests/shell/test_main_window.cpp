// The main window and the connection manager, offscreen: the program's pictures, the status
// panel's rules, and the window against frames the test sends and against q7sim.
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
#include "shell/StatusDisplay.h"
#include "shell/TitleBar.h"

#include <QImage>
#include <QtTest>

namespace {

void pointAt(const QString &address, unsigned port)
{
    QString error;
    QVERIFY2(AppSettings::setCameraOverride(address, port, error), qPrintable(error));
}

void pressConnect()
{
    QMetaObject::invokeMethod(QNetConfig::instance(), "onClicked", Qt::DirectConnection);
}

/* The link button pressed against the camera at 127.0.0.1:`port`. */
void connectTo(unsigned port)
{
    pointAt(QStringLiteral("127.0.0.1"), port);
    pressConnect();
    QVERIFY(Orvex::instance()->connected);
}

/* What the status panel shows: strategy caption and value, photos, satellites, GPS, faults, and
 * the camera icons top, right, bottom, left, centre (Y yellow, . white). */
QString panel()
{
    const Orvex *w = Orvex::instance();
    QString icons;
    for (int icon = 0; icon < StatusDisplay::IconCount; ++icon)
        icons += w->cameraIconYellow(StatusDisplay::Icon(icon)) ? 'Y' : '.';
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
        .arg(w->strategyCaption(), w->strategyValue(), w->photoCount(), w->satelliteCount(),
             w->gpsText(), w->faultText(), icons);
}

/* A frame the camera sends: `letter`, the bytes given at their offsets, the checksum. */
q7sim::Bytes frame(char letter, std::initializer_list<std::pair<int, int>> bytes)
{
    q7sim::Bytes frame = q7sim::command_frame(uint8_t(letter));
    for (const auto &[at, value] : bytes)
        frame[size_t(at)] = uint8_t(value);
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

    /* The program's pictures: every picture the code names is a resource that loads, the state
     * pictures of one control differ, and the translation is built in. */
    void everyPictureLoadsAndEveryNamedOneExists()
    {
        QSet<QString> pictures;
        for (QDirIterator it(QStringLiteral(":/Orvex/res"), {QStringLiteral("*.png")}, QDir::Files);
             it.hasNext();) {
            const QImage image(it.next());
            QVERIFY2(image.width() >= 8 && image.height() >= 8, qPrintable(it.filePath()));
            pictures.insert(it.filePath());
        }
        QVERIFY(pictures.size() > 80);
        /* Every ":/Orvex/res/NAME.png" written in the program's sources. */
        const QRegularExpression literal(QStringLiteral("\":(/Orvex/res/[^\"]+\\.png)\""));
        int named = 0;
        for (const char *folder : {"shell", "pages", "pos", "dataservice", "cards", "tools"}) {
            QDirIterator it(QStringLiteral(ORVEX_SOURCE_DIR "/") + QLatin1String(folder),
                            {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
            while (it.hasNext()) {
                QFile source(it.next());
                QVERIFY(source.open(QIODevice::ReadOnly));
                for (const auto &match : literal.globalMatch(QString::fromUtf8(source.readAll()))) {
                    const QString name = QLatin1Char(':') + match.captured(1);
                    QVERIFY2(pictures.contains(name), qPrintable(name + " is not a resource"));
                    ++named;
                }
            }
        }
        QVERIFY(named > 30);
        QFile translation(QStringLiteral(":/Orvex/res/qt_zh_CN.qm"));
        QVERIFY(translation.open(QIODevice::ReadOnly) && translation.size() > 1000);
    }

    void statePicturesDifferAndCameraIconsHaveTheirColours()
    {
        /* Pairs of picture names, a|b, separated by ';'. */
        const QString pairs = QStringLiteral(
            "deviceInfo_normal|deviceInfo_selected;configTest_normal|configTest_selected;"
            "collectAssistant_normal|collectAssistant_selected;posnor|possele;"
            "yingxiangnor|yingxiangsele;yingxiangqingkongnor|yingxiangqingkongselect;"
            "smallCamera_white|smallCamera_yellow;largeCamera_white|largeCamera_yellow;"
            "new duan|net duan xuan;wifi|wifi-xuan;new duan|wifi;btn_nor|btn_blue_hover;"
            "net |net normal;chuankoushezhi|chuankoushezhi  normal");
        for (const QString &pair : pairs.split(QLatin1Char(';'))) {
            QImage image[2];
            for (int i = 0; i < 2; ++i)
                image[i] = QImage(QStringLiteral(":/Orvex/res/%1.png")
                                      .arg(pair.section(QLatin1Char('|'), i, i)))
                               .convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(!image[0].isNull() && image[0].size() == image[1].size() &&
                         image[0] != image[1],
                     qPrintable(pair));
        }
        /* The camera icons are white or yellow: shrunk to one pixel, weighted by opacity. */
        for (const char *size : {"small", "large"}) {
            const auto colour = [size](const char *name) {
                return QImage(QStringLiteral(":/Orvex/res/%1Camera_%2.png")
                                  .arg(QLatin1String(size), QLatin1String(name)))
                    .convertToFormat(QImage::Format_ARGB32_Premultiplied)
                    .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .pixelColor(0, 0);
            };
            const QColor white = colour("white"), yellow = colour("yellow");
            QVERIFY2(white.hslSaturation() < 40 && white.lightness() > 150, size);
            QVERIFY2(yellow.hslHue() >= 35 && yellow.hslHue() <= 65 && yellow.hslSaturation() > 120,
                     size);
        }
    }

    /* The panel's rules, row by row; each row's name leads both sides of its comparison, so
     * that a failure names the row. */
    void panelRules()
    {
        /* Modes 1 to 3 are shown by statusPanelFollowsTheCameraHandle. */
        const struct {
            int mode, fixTime, distance;
            const char *shown; // caption|value
        } strategies[] = {{4, 0, 0, "采集策略：|PWM触发"},
                          {5, 0, 0, "采集策略：|IO触发"},
                          {6, 0, 0, "采集策略：|沿触发"},
                          {0, 0, 0, "采集策略：|"}}; // none yet, or unknown
        for (const auto &row : strategies) {
            const auto shown = StatusDisplay::strategy(row.mode, row.fixTime, row.distance);
            QCOMPARE(QString::number(row.mode) + shown.caption + QLatin1Char('|') + shown.value,
                     QString::number(row.mode) + QString::fromUtf8(row.shown));
        }

        const struct {
            const char *name;
            int major, minor, mask, selfCheck;
            const char *yellow, *text; // top, right, bottom, left, centre; empty: left alone
        } cameras[] = {
            {"new, all working", 4, 41, 31, 1, ".....", ""},
            {"new, none working", 4, 50, 0, 1, "YYYYY", "5个相机全部故障，请检查"},
            {"new, centre only", 4, 41, 0b01111, 1, "....Y", "5号相机故障，请检查"},
            {"new, self-check running", 4, 41, 0, 0, "", "          设备自检中"},
            {"old, bits 0 and 2 set", 4, 40, 0b00101, 0, "YY...", "1号、3号相机故障，请检查"},
            {"old, all faulty", 4, 40, 31, 1, "YYYYY", "5个相机全部故障，请检查"},
            {"old, none faulty", 3, 99, 0, 0, ".....", ""},
            {"unknown version counts as old", 0, 0, 0b01000, 0, "..Y..", "4号相机故障，请检查"}};
        for (const auto &row : cameras) {
            const auto shown =
                StatusDisplay::cameras(row.major, row.minor, row.mask, row.selfCheck);
            QString icons = QLatin1String(row.name) + QLatin1Char(' ');
            for (int icon = 0; shown.changed && icon < StatusDisplay::IconCount; ++icon)
                icons += shown.yellow[size_t(icon)] ? QLatin1Char('Y') : QLatin1Char('.');
            QCOMPARE(icons + shown.faultText, QLatin1String(row.name) + QLatin1Char(' ') +
                                                  QLatin1String(row.yellow) +
                                                  QString::fromUtf8(row.text));
        }

        const struct {
            int fix, satellites;
            const char *text;
        } gps[] = {
            {1, 3, "GPS未定位"}, {0, 12, "GPS硬件故障"}, {-1, 0, "网络断开"}, {1, 4, "GPS已定位"}};
        for (const auto &row : gps)
            QCOMPARE(StatusDisplay::gpsText(row.fix, row.satellites),
                     std::optional<QString>(QString::fromUtf8(row.text)));
    }

    void startsDisconnectedAndNavigatesWithoutALink()
    {
        Orvex *window = Orvex::instance();
        QCOMPARE(window->size(), QSize(760, 540));
        QCOMPARE(window->windowTitle(), QStringLiteral("Orvex"));
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!window->mask().contains(QPoint(0, 0))); // rounded corner
        QVERIFY(window->mask().contains(QPoint(380, 270)));
        QVERIFY(!window->statusVisible() && !window->pageStackVisible());
        QVERIFY(!window->navigationEntry(Orvex::ConfigTestEntry)->isEnabled());
        QCOMPARE(window->linkButtonImage(), QStringLiteral(":/Orvex/res/new duan.png"));
        QCOMPARE(window->navigationImage(0), QStringLiteral(":/Orvex/res/deviceInfo_selected.png"));
        QCOMPARE(QNetConfig::instance()->stateText(), QStringLiteral("未连接"));
        /* Without a link the entries only show their pages. */
        emit window->navigationEntry(Orvex::PosEntry)->clicked();
        QVERIFY(window->pageStackVisible());
        QCOMPARE(window->currentPage(), int(Orvex::PosEntry));
        QCOMPARE(window->navigationImage(Orvex::PosEntry),
                 QStringLiteral(":/Orvex/res/possele.png"));
        QCOMPARE(window->navigationImage(0), QStringLiteral(":/Orvex/res/deviceInfo_normal.png"));
        QVERIFY(!DownloadData::instance()->lensOptionVisible());
        emit window->navigationEntry(0)->clicked();
        QCOMPARE(window->currentPage(), 0);
        QVERIFY(!DeviceInfo::instance()->identityVisible());
        QVERIFY(m_presenter.warnings.isEmpty());
    }

    void wifiChecks_data()
    {
        QTest::addColumn<QString>("ssid");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("warning"); // none: connected
        const QString noWifi = QStringLiteral("未连接WIFI!");
        const QString notQ7 = QStringLiteral("请连接Q7相机的WIFI！");
        QTest::newRow("no network") << QString() << 0 << noWifi;
        QTest::newRow("lookup failed") << QString() << -1 << noWifi;
        QTest::newRow("lower-case q7") << "q7-0012" << 0 << notQ7;
        QTest::newRow("Q7 later in the name") << "HomeQ7" << 0 << notQ7;
        QTest::newRow("camera network") << "Q7-0012" << 0 << QString();
    }
    void wifiChecks()
    {
        QFETCH(QString, ssid);
        QFETCH(int, result);
        QFETCH(QString, warning);
        pointAt(QStringLiteral("192.0.2.1"), 8899);
        WIFI::setSource([=](QString &name) {
            name = ssid;
            return result;
        });
        pressConnect();
        Orvex *window = Orvex::instance();
        QCOMPARE(window->connected, warning.isEmpty());
        QCOMPARE(m_presenter.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
        QVERIFY(QNetConfig::instance()->link()); // the link stays open either way
        if (window->connected) {
            QCOMPARE(QNetConfig::instance()->networkName(), ssid);
            QCOMPARE(QNetConfig::instance()->stateText(), QStringLiteral("已连接"));
            QCOMPARE(QNetConfig::instance()->captionText(), QStringLiteral("断开"));
            QCOMPARE(window->linkButtonImage(), QStringLiteral(":/Orvex/res/wifi.png"));
        }
    }

    void statusPanelFollowsTheCameraHandle()
    {
        LoopbackPeer camera;
        connectTo(camera.port);
        Orvex *window = Orvex::instance();
        QCOMPARE(camera.receive(3000).size(), size_t(36)); // the link's hello
        QCOMPARE(QNetConfig::instance()->networkName(), QStringLiteral("localhost"));
        QVERIFY(window->statusVisible());
        q7x_t *handle = QNetConfig::instance()->cameraHandle();
        /* The frames: identity (firmware 4.minor), configuration (mode, timed interval and
         * distance, little-endian tenths), status (7 exposures, cameras 3 and 5 behind with 6
         * and 5, big-endian; the fault mask), position (satellites, the receiver's state). */
        const auto configuration = [](int mode, int timed, int distance) {
            return frame(
                'A',
                {{4, mode}, {8, mode}, {28, timed}, {30, distance & 0xFF}, {31, distance >> 8}});
        };
        const auto status = [](int mask) {
            return frame('C', {{6, 7}, {16, 7}, {18, 7}, {20, 6}, {22, 7}, {24, 5}, {25, mask}});
        };
        const auto position = [](int satellites, int receiver) {
            return frame('B', {{16, satellites}, {33, receiver}});
        };
        /* Frames sent one round at a time, an identity first unless `minor` is 0; each frame
         * counts one on the handle's index. Then the panel shows `shown`. */
        const auto round = [&](int minor, const QList<q7sim::Bytes> &frames, uint32_t indexAfter,
                               const char *shown) {
            if (minor) {
                camera.send(frame('R', {{4, 0xFE}, {12, 4}, {13, minor}}));
                QTRY_COMPARE(int(CameraFields::load(handle->version_minor)), minor);
            }
            for (const auto &frame : frames)
                camera.send(frame);
            QTRY_COMPARE(q7x_get_index(handle), indexAfter);
            window->onTimeout();
            QCOMPARE(panel(), QString::fromUtf8(shown));
        };
        round(41, {configuration(2, 25, 0), status(0x80 | 0b10110), position(3, 1)}, 3,
              "采集策略：|定时2.00s|7|3|GPS未定位|1号、4号相机故障，请检查|Y..Y.");
        /* Old firmware reads the fault bits the other way round: cameras 3 and 5 lag behind
         * the total, bits 2 and 4, top and centre. */
        round(40, {configuration(3, 0, 1005), status(0), position(9, 0)}, 6,
              "采集策略：|定距100.5m|7|9|GPS硬件故障|3号、5号相机故障，请检查|Y...Y");
        round(0, {configuration(1, 0, 0)}, 7,
              "当前策略：|调试模式|7|9|GPS硬件故障|3号、5号相机故障，请检查|Y...Y");
    }

    void connectsToTheSimulatedCamera()
    {
        SimProcess sim({"--serial", "Q7X416080001234", "--satellites", "11", "--rate", "10"});
        QVERIFY2(sim.running(), sim.error().c_str());
        connectTo(sim.port());
        Orvex *window = Orvex::instance();
        QCOMPARE(window->cameraConnected, 1);
        QVERIFY(window->navigationEntry(Orvex::ConfigTestEntry)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(window->satelliteCount(), QStringLiteral("11"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(window->gpsText(), QStringLiteral("GPS已定位"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(DeviceInfo::instance()->serialText(),
                                  QStringLiteral("Q7X416080001234"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(DeviceInfo::instance()->releaseDateText(),
                                  QStringLiteral("2016-08-25"), 5000);
        QCOMPARE(window->posRecordSize, 52);
        /* The camera reports its self-check until it has finished it. */
        QTRY_COMPARE_WITH_TIMEOUT(window->faultText(), QString(), 5000);
        emit window->navigationEntry(Orvex::PosEntry)->clicked();
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
        QVERIFY2(sim.running(), sim.error().c_str());
        connectTo(sim.port());
        Orvex *window = Orvex::instance();
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
        QCOMPARE(receive_threads(), 1);
        pressConnect();
        QVERIFY(window->connected);
        QCOMPARE(QNetConfig::instance()->link(), link);
        QCOMPARE(QNetConfig::instance()->cameraHandle(), camera);
        QCOMPARE(receive_threads(), 1);
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

    void titleBarNamesAMissingHelpDocumentAndWarnsBeforeClosing()
    {
        Orvex *window = Orvex::instance();
        const QString name = QStringLiteral("no such guide.pdf");
        QVERIFY(!TitleBar::openHelpDocument(window, name));
        QCOMPARE(m_presenter.warnings.size(), 1);
        const QString warning = m_presenter.warnings.first();
        QVERIFY2(warning.startsWith(QStringLiteral("找不到帮助文档") + name +
                                    QStringLiteral("|已查找：")),
                 qPrintable(warning));
        QVERIFY(warning.contains(QCoreApplication::applicationDirPath()));
        QVERIFY(warning.contains(AppPaths::installedDataDir()));
        /* The close button signals the pages while the window is still shown. */
        Mylabel *close = nullptr;
        for (Mylabel *button : window->titleBar()->findChildren<Mylabel *>())
            if (button->toolTip() == QStringLiteral("关闭"))
                close = button;
        QVERIFY(close);
        int visibleAtSignal = 0;
        connect(window->titleBar(), &TitleBar::signalclose, this,
                [&] { visibleAtSignal += window->isVisible() ? 1 : 100; });
        emit close->clicked();
        QCOMPARE(visibleAtSignal, 1); // signalled once, while visible
        QVERIFY(!window->isVisible());
    }

private:
    QTemporaryDir m_data;
    RecordingPresenter m_presenter;
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
