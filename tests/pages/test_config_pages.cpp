/*
 * The configuration test page offscreen: its tabs, the strategy sync that
 * acts once per run, the set button's order of question and message against
 * q7sim, and the device debug figures by each firmware generation's rule.
 */
#include "RecordingPresenter.h"
#include "sim_process.h"

#include "pages/ConfigTesUi.h"
#include "pages/DeviceDebugOpt.h"
#include "pages/GatherStrategyOptUi.h"
#include "pages/StrategyPages.h"
#include "platform/AppSettings.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

class ConfigPagesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        qputenv("ORVEX_DATA_DIR", m_data.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
    }
    void tabsShowTheirPicturesAndPages();
    void syncActsOnceOnAValidHandle();
    void setButtonAsksThenChecksThenSends();
    void debugFiguresFollowTheFirmwareRule();

private:
    QTemporaryDir m_data;
};

void ConfigPagesTest::tabsShowTheirPicturesAndPages()
{
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
        QCOMPARE(!distance->choiceField(index)->isHidden(), index == StrategyRecords::HeightIndex);
}

void ConfigPagesTest::syncActsOnceOnAValidHandle()
{
    RecordingPresenter presenter;
    ConfigTesUi page;
    GatherStrategyOptUi *strategy = page.strategyTab();
    strategy->timedPage()->gearBox()->setChecked(true);
    presenter.warnings.clear();

    q7x_t camera{};
    camera.reported_param.strategy = Q7X_STRATEGY_IO;
    camera.reported_param.io_level = 1;
    camera.reported_param.io_duration = 250;
    camera.reported_param.activation = 5;
    camera.reported_param.manual_delay = 7;
    camera.reported_param.pwm_pulse_time = 25;
    camera.mode = Q7X_STRATEGY_IO;
    emit Orvex::instance()->statusRefreshed(&camera); // no frame yet: nothing happens
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

    camera.reported_param.strategy = Q7X_STRATEGY_TIMED;
    camera.option_word = 1;
    emit Orvex::instance()->statusRefreshed(&camera);
    QCOMPARE(strategy->currentTab(), int(StrategySync::IoTab));
    QVERIFY(!strategy->timedPage()->landingGear());
}

void ConfigPagesTest::setButtonAsksThenChecksThenSends()
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
    /* The main window's status refresh fills the pages from the camera's timed record. */
    QTRY_VERIFY_WITH_TIMEOUT(page.strategyTab()->synced(), 10000);
    QCOMPARE(page.strategyTab()->currentTab(), int(StrategySync::TimedTab));
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

void ConfigPagesTest::debugFiguresFollowTheFirmwareRule()
{
    DeviceDebugOpt *page = DeviceDebugOpt::instance();
    q7x_t camera{};
    camera.total_exposures = 120;
    const uint16_t counts[5] = {120, 120, 119, 120, 120};
    std::copy(counts, counts + 5, camera.exposure_counts);
    camera.version_major = 4;
    camera.version_minor = 41;
    camera.fault_mask = 0b11011; // new firmware: set = working
    emit Orvex::instance()->statusRefreshed(&camera);
    for (int row = 1; row <= 5; ++row) {
        QCOMPARE(page->triggerText(row), QStringLiteral("120"));
        QCOMPARE(page->dotImage(row).endsWith(QStringLiteral("round_error.png")), row == 3);
        QCOMPARE(page->boxImage(row).endsWith(QStringLiteral("wenti.png")), row == 3);
    }
    QCOMPARE(page->photoText(3), QStringLiteral("119"));

    camera.version_minor = 40;
    camera.fault_mask = 0b00100; // older firmware: set = fallen behind
    emit Orvex::instance()->statusRefreshed(&camera);
    for (int row = 1; row <= 5; ++row)
        QCOMPARE(page->dotImage(row).endsWith(QStringLiteral("round_error.png")), row == 3);

    page->onClicked();
    QCOMPARE(page->shutterButton()->image(), QStringLiteral(":/Orvex/res/photograph_click.png"));
    page->onClickleave();
    QCOMPARE(page->shutterButton()->image(), QStringLiteral(":/Orvex/res/photograph_normal.png"));
}

QTEST_MAIN(ConfigPagesTest)
#include "test_config_pages.moc"
