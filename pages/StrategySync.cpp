#include "StrategySync.h"

#include "StrategyRecords.h"

namespace StrategySync {

namespace {

/* Tenths as a decimal with one decimal. */
QString oneDecimal(int tenths)
{
    return QString::number(tenths / 10.0, 'f', 1);
}

} // namespace

int tabForKind(int kind)
{
    switch (kind) {
    case Q7X_STRATEGY_TIMED:
        return TimedTab;
    case Q7X_STRATEGY_DISTANCE:
        return DistanceTab;
    case Q7X_STRATEGY_PWM:
        return PwmTab;
    case Q7X_STRATEGY_IO:
        return IoTab;
    case Q7X_STRATEGY_EDGE:
        return EdgeTab;
    default:
        return -1;
    }
}

Texts texts(const q7x_work_param_t &record, unsigned optionWord)
{
    Texts texts;
    texts.tab = tabForKind(record.strategy);
    if (record.strategy == Q7X_STRATEGY_DISTANCE)
        texts.distanceActivation = StrategyRecords::indexForMode(record.activation);
    else if (record.strategy == Q7X_STRATEGY_TIMED)
        texts.timedActivation = StrategyRecords::indexForMode(record.activation);

    /* The timed page reads its interval as a decimal: 15 tenths show as "1.5", so that
     * setting the page again sends the same interval; whole seconds show without a point. */
    texts.interval = record.timed_interval % 10 ? oneDecimal(record.timed_interval)
                                                : QString::number(record.timed_interval / 10);
    texts.distance = oneDecimal(record.distance_interval);
    texts.levelHigh = record.external_level == 1;
    texts.powerOnDelay = QString::number(record.power_on_delay);
    texts.manualDelay = QString::number(record.manual_delay);
    texts.height = QString::number(record.activation_height);
    texts.rising = record.edge == 1;
    texts.ioHigh = record.io_level == 1;
    texts.ioDuration = QString::number(record.io_duration);
    texts.pwmPulse = oneDecimal(record.pwm_pulse_time);
    texts.pwmPeriod = oneDecimal(record.pwm_period);
    texts.pwmDuration = QString::number(record.pwm_duration);
    texts.landingGear = optionWord != 0;
    return texts;
}

} // namespace StrategySync
