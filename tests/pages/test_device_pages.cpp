// The device pages offscreen: the configuration test page's tabs, its strategy sync that acts
// once per run, its set button's order of question and message against q7sim, the device debug
// figures; the device information page's manual upgrade refusals, and its offer of the
// configured firmware carried out to "升级成功" against q7sim.
#include "RecordingPresenter.h"
#include "TestFiles.h"
#include "app/OrvexPages.h"
#include "sim_process.h"

#include "pages/ConfigTesUi.h"
#include "pages/DeviceDebugOpt.h"
#include "pages/DeviceInfo.h"
#include "pages/GatherStrategyOptUi.h"
#include "pages/ShengJiUi.h"
#include "pages/StrategyPages.h"
#include "platform/AppSettings.h"
#include "shell/CameraFields.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>

class DevicePagesTest : public QObject {
    Q_OBJECT

private:
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    void initTestCase()
    {
        /* Data, settings and the per-user shared folder (where UpdateConfig.xml is looked for)
         * all in the temporary folder. */
        qputenv("ORVEX_DATA_DIR", path("data").toLocal8Bit());
        qputenv("XDG_DATA_HOME", path("share").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", path("config").toLocal8Bit());
    }

    void tabsSyncAndDebugFigures()
    {
        RecordingPresenter presenter;
        ConfigTesUi page;
        QCOMPARE(page.currentTab(), int(ConfigTesUi::StrategyTab));
        emit page.caption(ConfigTesUi::DebugTab)->clicked();
        QCOMPARE(page.currentTab(), int(ConfigTesUi::DebugTab));
        QCOMPARE(page.headerImage(), QStringLiteral(":/Orvex/res/sehbeitiaoshi.png"));
        QVERIFY(page.caption(ConfigTesUi::DebugTab)->styleSheet().contains(QStringLiteral("185")));
        GatherStrategyOptUi *strategy = page.strategyTab();
        QCOMPARE(strategy->currentTab(), int(StrategySync::DistanceTab));
        emit strategy->tabLabel(StrategySync::PwmTab)->clicked();
        QCOMPARE(strategy->currentTab(), int(StrategySync::PwmTab));
        for (int tab = 0; tab < StrategySync::tabCount; ++tab)
            QCOMPARE(strategy->tabLabel(tab)->image().endsWith(QStringLiteral("_click.png")),
                     tab == StrategySync::PwmTab);

        /* Each activation choice shows only its own fields. */
        DistanceAutoOptUi *distance = strategy->distancePage();
        distance->activationBox()->setCurrentIndex(StrategyRecords::HeightIndex);
        for (int index = 0; index < StrategyRecords::activationCount; ++index)
            QCOMPARE(!distance->choiceField(index)->isHidden(),
                     index == StrategyRecords::HeightIndex);

        /* The sync: not before the handle holds a frame, then once. */
        strategy->timedPage()->gearBox()->setChecked(true);
        presenter.warnings.clear();
        q7x_t camera{};
        q7x_work_param_t &reported = camera.reported_param;
        reported.strategy = camera.mode = Q7X_STRATEGY_IO;
        reported.io_level = 1;
        reported.io_duration = 250;
        reported.activation = 5;
        reported.manual_delay = 7;
        reported.pwm_pulse_time = 25;
        emit Orvex::instance()->statusRefreshed(&camera);
        QVERIFY(!strategy->synced());
        camera.flags = Q7X_FLAG_VALID;
        emit Orvex::instance()->statusRefreshed(&camera);
        QVERIFY(strategy->synced());
        QCOMPARE(strategy->currentTab(), int(StrategySync::IoTab));
        QVERIFY(strategy->ioPage()->highButton()->isChecked());
        QCOMPARE(strategy->ioPage()->durationEdit()->text(), QStringLiteral("250"));
        QCOMPARE(strategy->pwmPage()->pulseEdit()->text(), QStringLiteral("2.5"));
        QCOMPARE(strategy->distancePage()->manualDelayEdit()->text(), QStringLiteral("7"));
        /* Kind 5 leaves the activation pages' choices; no landing-gear signal clears both boxes,
         * quietly. */
        QCOMPARE(strategy->timedPage()->activationBox()->currentIndex(), 0);
        QVERIFY(!strategy->timedPage()->gearBox()->isChecked());
        QVERIFY(!strategy->timedPage()->landingGear());
        QVERIFY(presenter.warnings.isEmpty());
        /* Once synced, a later refresh changes nothing. */
        reported.strategy = Q7X_STRATEGY_TIMED;
        camera.option_word = 1;
        emit Orvex::instance()->statusRefreshed(&camera);
        QCOMPARE(strategy->currentTab(), int(StrategySync::IoTab));
        QVERIFY(!strategy->timedPage()->landingGear());

        /* The debug figures follow each firmware generation's rule. */
        DeviceDebugOpt *debug = DeviceDebugOpt::instance();
        camera = q7x_t{};
        camera.total_exposures = 120;
        const uint16_t counts[5] = {120, 120, 119, 120, 120};
        std::copy(counts, counts + 5, camera.exposure_counts);
        camera.version_major = 4;
        /* Camera 3 at fault: new firmware clears its bit, older firmware sets it. */
        for (const auto &[minor, mask] : {std::pair{41, 0b11011}, std::pair{40, 0b00100}}) {
            camera.version_minor = uint8_t(minor);
            camera.fault_mask = uint8_t(mask);
            emit Orvex::instance()->statusRefreshed(&camera);
            for (int row = 1; row <= 5; ++row) {
                QCOMPARE(debug->triggerText(row), QStringLiteral("120"));
                QCOMPARE(debug->dotImage(row).endsWith(QStringLiteral("round_error.png")),
                         row == 3);
                QCOMPARE(debug->boxImage(row).endsWith(QStringLiteral("wenti.png")), row == 3);
            }
            QCOMPARE(debug->photoText(3), QStringLiteral("119"));
        }
        debug->onClicked();
        QCOMPARE(debug->shutterButton()->image(),
                 QStringLiteral(":/Orvex/res/photograph_click.png"));
        debug->onClickleave();
        QCOMPARE(debug->shutterButton()->image(),
                 QStringLiteral(":/Orvex/res/photograph_normal.png"));
    }

    void setButtonAsksThenChecksThenSends()
    {
        RecordingPresenter presenter;
        ConfigTesUi page;
        DistanceAutoOptUi *distance = page.strategyTab()->distancePage();
        Orvex *window = Orvex::instance();
        window->connected = false;
        emit distance->setButton()->clicked();
        QCOMPARE(presenter.warnings, QStringList{QStringLiteral("相机未连接！")});
        QVERIFY(presenter.questions.isEmpty());
        SimProcess sim({"--rate", "10"});
        QVERIFY2(sim.running(), sim.error().c_str());
        QString error;
        QVERIFY2(AppSettings::setCameraOverride(QStringLiteral("127.0.0.1"), sim.port(), error),
                 qPrintable(error));
        QCOMPARE(QNetConfig::instance()->openLink(), 0);
        q7x_t *camera = QNetConfig::instance()->cameraHandle();
        /* The main window's status refresh syncs the pages with the camera. */
        QTRY_VERIFY_WITH_TIMEOUT(page.strategyTab()->synced(), 10000);
        window->connected = true;

        /* The distance page asks first and checks its interval after. */
        presenter.warnings.clear();
        distance->activationBox()->setCurrentIndex(StrategyRecords::LevelIndex);
        distance->intervalEdit()->setText(QStringLiteral("600"));
        emit distance->setButton()->clicked();
        QCOMPARE(presenter.questions.size(), 1);
        QCOMPARE(presenter.warnings, QStringList{QStringLiteral("间隔应该输入小于500!")});
        distance->intervalEdit()->setText(QStringLiteral("12.34"));
        emit distance->setButton()->clicked();
        QCOMPARE(presenter.warnings.last(), QStringLiteral("设置完成"));
        QTRY_COMPARE_WITH_TIMEOUT(int(camera->reported_param.distance_interval), 123, 10000);
        QCOMPARE(int(camera->reported_param.strategy), int(Q7X_STRATEGY_DISTANCE));

        /* The PWM page checks before it asks; a rejected question sends nothing. */
        PWMExternalOptUi *pwm = page.strategyTab()->pwmPage();
        pwm->pulseEdit()->setText(QStringLiteral("30"));
        pwm->periodEdit()->setText(QStringLiteral("1"));
        pwm->durationEdit()->setText(QStringLiteral("10"));
        emit pwm->setButton()->clicked();
        QCOMPARE(presenter.questions.size(), 2);
        QCOMPARE(presenter.warnings.last(), QStringLiteral("脉冲时间输入应小于25.5!"));
        pwm->pulseEdit()->setText(QStringLiteral("12.5"));
        presenter.answer = false;
        emit pwm->setButton()->clicked();
        QCOMPARE(presenter.questions.size(), 3);
        QCOMPARE(presenter.warnings.last(), QStringLiteral("脉冲时间输入应小于25.5!"));
        QCOMPARE(int(camera->sent_param.strategy), int(Q7X_STRATEGY_DISTANCE));
        window->connected = false;
        QNetConfig::instance()->closeLink();
    }

    void offeredFirmwareIsSentAndTheVersionAskedAgain()
    {
        const QString shared = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(writeFile(shared + QStringLiteral("/UpdateConfig.xml"),
                          "<config><filename value=\"fw45.bin\"/><num value=\"4.5\"/></config>"));
        QByteArray firmware;
        for (int i = 0; i < 1234; ++i)
            firmware.append(char(i * 13));
        QVERIFY(writeFile(shared + QStringLiteral("/fw45.bin"), firmware));
        installOrvexPages();
        Orvex::instance()->show();
        /* Without a camera the manual upgrade asks nothing. */
        DeviceInfo *page = DeviceInfo::instance();
        page->onUpdateClicked();
        QCOMPARE(m_presenter.warnings, QStringList{QStringLiteral("相机未连接！")});
        QVERIFY(m_presenter.questions.isEmpty());
        SimProcess sim({"--firmware", "4.41", "--upgraded-firmware", "4.5", "--loader-image",
                        path("received.bin").toStdString()});
        QVERIFY2(sim.running(), sim.error().c_str());
        QString error;
        QVERIFY2(AppSettings::setCameraOverride(QStringLiteral("127.0.0.1"), sim.port(), error),
                 qPrintable(error));
        m_presenter.warnings.clear();
        QMetaObject::invokeMethod(QNetConfig::instance(), "onClicked", Qt::DirectConnection);
        QTRY_COMPARE_WITH_TIMEOUT(m_presenter.questions,
                                  QStringList{QStringLiteral("当前固件版本是4.41,是否升级？")},
                                  10000);
        QVERIFY(!page->versionCheckActive());
        auto *dialog = qobject_cast<ShengJiUi *>(Orvex::instance()->upgradeDialog);
        QVERIFY(dialog);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->resultText(), QStringLiteral("升级成功"), 60000);
        QCOMPARE(dialog->percentText(), QStringLiteral("100%"));
        QCOMPARE(CameraFields::load(QNetConfig::instance()->posManager()->activity), 0u);
        QTRY_COMPARE_WITH_TIMEOUT(readAll(path("received.bin")), firmware, 5000);
        /* The restarted camera is asked for its version, which the page shows. */
        QTRY_COMPARE_WITH_TIMEOUT(page->versionText(), QStringLiteral("V4.5"), 10000);
        QCOMPARE(Orvex::instance()->firmwareVersion, QStringLiteral("4.5"));
        QVERIFY(m_presenter.warnings.isEmpty());

        /* An encrypted file answered "否" changes nothing. */
        dialog->close();
        m_presenter.answer = false;
        m_presenter.questions.clear();
        QVERIFY(writeFile(path("enc.bin"), "OVRE\1\2\3\4encrypted body"));
        m_presenter.openAnswers = {path("enc.bin")};
        page->onUpdateClicked();
        QCOMPARE(m_presenter.questions,
                 (QStringList{QStringLiteral("打开"),
                              QStringLiteral("您选的文件是加密文件，是否解密并继续升级？")}));
        QTRY_VERIFY(!Orvex::instance()->upgradeDialog);
        QVERIFY(!QFile::exists(path("data/tempfile.bin")));
        /* The link button again: disconnected. */
        QMetaObject::invokeMethod(QNetConfig::instance(), "onClicked", Qt::DirectConnection);
    }

private:
    QTemporaryDir m_dir;
    RecordingPresenter m_presenter;
};

QTEST_MAIN(DevicePagesTest)
#include "test_device_pages.moc"
