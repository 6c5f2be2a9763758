// The strategy pages' records: each row gives a page's texts, and either the fields the page
// must change on a record the camera reported (every other byte must stay as reported) or the
// message of the first failed check. The sync is checked by building again from its texts.
#include "pages/StrategyRecords.h"
#include "pages/StrategySync.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace StrategyRecords;

namespace {

/* A reported record whose every byte differs from what the pages write. */
q7x_work_param_t reported()
{
    q7x_work_param_t record;
    std::memset(&record, 0xA5, sizeof record);
    return record;
}

/* An activation choice with its one text. */
Activation act(int index, const char *text = "", bool gear = true, bool high = true)
{
    Activation a;
    a.index = index;
    a.landingGear = gear;
    a.levelHigh = high;
    (index == PowerDelayIndex    ? a.powerOnDelay
     : index == ManualDelayIndex ? a.manualDelay
                                 : a.height) = QString::fromUtf8(text);
    return a;
}

using Build = std::function<Outcome(const q7x_work_param_t &)>;

/* A page's builder with the page's texts (and choices) given: it builds over any record. */
template <typename Page, typename... Texts> Build page(Page build, Texts... texts)
{
    return [=](const q7x_work_param_t &r) { return build(r, texts...); };
}

struct Row {
    const char *name;
    Build build;
    const char *result; /* accepted: "OFFSET=HEX ..." over the reported record; else the message */
    bool afterConfirmation = false;
};

const char *const over500 = "间隔应该输入小于500!";
const char *const invalidText = "输入值非法";
const char *const missing = "有参数未输入!";
const char *const durationTooLong = "持续时间输入应小于10000!";
const char *const noGear = "请检查是否连接起落架！";

const Row rows[] = {
    // Distance (kind 3, interval at 22): below a metre goes out as a metre; tenths truncated.
    {"distance half metre", page(distance, "0.5", act(GearIndex)), "0=03 1=01 22=0a00"},
    {"distance tenths", page(distance, "12.34", act(LevelIndex, "", true, false)),
     "0=03 1=02 4=00 22=7b00"},
    {"distance high level", page(distance, "2.3", act(LevelIndex)), "0=03 1=02 4=01 22=1700"},
    {"distance limit", page(distance, "500", act(HeightIndex, "0")), "0=03 1=04 8=0000 22=8813"},
    {"distance power-on floor", page(distance, "10", act(PowerDelayIndex, "3")),
     "0=03 1=03 6=0a00 22=6400"},
    {"distance manual floor", page(distance, "10", act(ManualDelayIndex, "3.9")),
     "0=03 1=05 10=0500 22=6400"},
    {"distance above 500", page(distance, "600", act(GearIndex)), over500, true},
    {"distance above 500 with decimals", page(distance, "600.5", act(GearIndex)), over500, true},
    {"distance ten characters", page(distance, "0000000001", act(GearIndex)), over500, true},
    {"distance leading point", page(distance, ".5", act(GearIndex)), invalidText, true},
    {"distance exponent", page(distance, "1e2", act(GearIndex)), invalidText, true},
    {"distance empty", page(distance, "", act(LevelIndex)), missing, true},
    {"distance empty delay", page(distance, "10", act(PowerDelayIndex)), missing, true},
    {"no landing gear", page(distance, "10", act(GearIndex, "", false)), noGear},
    {"delay too long before invalid", page(distance, "600", act(PowerDelayIndex, "12345e")),
     "延时时间输入应小于10000!"},
    {"manual invalid before too long", page(distance, "10", act(ManualDelayIndex, "12345e")),
     invalidText},
    {"height too long", page(distance, "10", act(HeightIndex, "10000")), "高度输入应小于10000!"},
    {"negative delay", page(distance, "10", act(PowerDelayIndex, "-7")), invalidText},
    // Timed (kind 2, interval at 20): tenths of a second as a decimal; a power-on floor of 5.
    {"timed 1.5 s", page(timed, "1.5", act(LevelIndex)), "0=02 1=02 4=01 20=0f00"},
    {"timed power-on floor", page(timed, "2", act(PowerDelayIndex, "3")),
     "0=02 1=03 6=0500 20=1400"},
    {"timed manual truncated", page(timed, "2", act(ManualDelayIndex, "2.5")),
     "0=02 1=05 10=0200 20=1400"},
    {"timed landing gear", page(timed, "3", act(GearIndex)), "0=02 1=01 20=1e00"},
    {"timed below a tenth", page(timed, "0.05", act(GearIndex)), invalidText},
    {"timed beyond the record", page(timed, "6553.6", act(GearIndex)), invalidText},
    {"timed empty", page(timed, "", act(GearIndex)), missing},
    {"timed no landing gear", page(timed, "2", act(GearIndex, "", false)), noGear},
    // PWM (kind 4, bytes 12-15): tenths of a millisecond in a byte, up to 25.5.
    {"pwm", page(pwm, "2.5", "0.5", "100.9"), "0=04 12=19056400"},
    {"pwm up to 25.5", page(pwm, "25.5", "12.5", "9999"), "0=04 12=ff7d0f27"},
    {"pwm pulse 30", page(pwm, "30", "1", "10"), "脉冲时间输入应小于25.5!"},
    {"pwm pulse 25.55", page(pwm, "25.55", "1", "10"), "脉冲时间输入应小于25.5!"},
    {"pwm period 25.6", page(pwm, "1", "25.6", "10"), "周期输入应小于25.5!"},
    {"pwm empty period first", page(pwm, "30", "", "10"), missing},
    {"pwm invalid before limits", page(pwm, "30", "1", "1e5"), invalidText},
    {"pwm duration too long", page(pwm, "30", "1", "10000"), durationTooLong},
    // IO (kind 5, bytes 16 and 18) and edge (kind 6, byte 17).
    {"io", page(io, true, "250.7"), "0=05 16=01 18=fa00"},
    {"io low", page(io, false, "0"), "0=05 16=00 18=0000"},
    {"io empty", page(io, true, ""), missing},
    {"io plus", page(io, true, "+5"), invalidText},
    {"io too long", page(io, true, "10000"), durationTooLong},
    {"edge falling", page(edge, false), "0=06 17=00"},
};

/* The record built again from the texts the sync gives for it, typed into its page. */
Outcome resent(const q7x_work_param_t &record)
{
    using namespace StrategySync;
    const Texts t = texts(record, 1);
    if (!t.landingGear || t.tab < 0 || t.tab >= tabCount)
        return {};
    const int index = t.tab == DistanceTab ? t.distanceActivation : t.timedActivation;
    Activation a{index, t.landingGear, t.levelHigh, t.powerOnDelay, t.manualDelay, t.height};
    return t.tab == DistanceTab ? distance(record, t.distance, a)
           : t.tab == TimedTab  ? timed(record, t.interval, a)
           : t.tab == PwmTab    ? pwm(record, t.pwmPulse, t.pwmPeriod, t.pwmDuration)
           : t.tab == IoTab     ? io(record, t.ioHigh, t.ioDuration)
                                : edge(record, t.rising);
}

} // namespace

/* Each accepted record also comes back whole through the sync's texts. */
TEST(StrategyRecords, EveryPageRowBuildsItsFieldsOrRefusesAndSyncsBack)
{
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome outcome = row.build(reported());
        if (!std::strchr(row.result, '=')) {
            EXPECT_EQ(outcome.message.toStdString(), row.result);
            EXPECT_FALSE(outcome.reason.isEmpty());
            EXPECT_EQ(outcome.afterConfirmation, row.afterConfirmation);
            continue;
        }
        ASSERT_TRUE(outcome.accepted()) << outcome.message.toStdString();
        QByteArray expected = QByteArray::fromHex(hex(reported()).toLatin1());
        for (const QString &patch : QString::fromLatin1(row.result).split(QLatin1Char(' '))) {
            const QByteArray bytes = QByteArray::fromHex(patch.section('=', 1).toLatin1());
            expected.replace(patch.section('=', 0, 0).toInt(), bytes.size(), bytes);
        }
        EXPECT_EQ(hex(outcome.record).toStdString(), expected.toHex().toStdString());
        const Outcome again = resent(outcome.record);
        EXPECT_EQ(hex(again.record).toStdString(), hex(outcome.record).toStdString())
            << again.message.toStdString();
    }
}

TEST(StrategySync, DebugModeShowsNoTab)
{
    q7x_work_param_t debug{};
    debug.strategy = 1;
    debug.activation = 9;
    const StrategySync::Texts t = StrategySync::texts(debug, 0);
    EXPECT_EQ(t.tab, -1);
    EXPECT_EQ(t.distanceActivation, -1);
    EXPECT_FALSE(t.landingGear);
}
