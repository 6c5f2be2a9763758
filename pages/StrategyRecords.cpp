#include "StrategyRecords.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace StrategyRecords {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("StrategyRecords", text);
}

constexpr int modes[activationCount] = {1, 2, 3, 5, 4};

/* Above every field of the record: a reading saturates here instead of overflowing. */
constexpr qint64 huge = qint64(1) << 40;

/* Digits, and optionally a point followed by digits. */
bool plainDecimal(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    return pattern.match(text).hasMatch();
}

/*
 * The pages' "invalid" check: a sign or an exponent, or a point at either end.
 * The pages' validators let only digits, points, signs and exponents through,
 * so for their texts this is the same as "not a plain decimal"; orvex-cli's
 * texts have no validator, and a minus sign, a space or a letter is turned
 * away here as well.
 */
bool invalid(const QString &text)
{
    return !text.isEmpty() && !plainDecimal(text);
}

/* The part before the first point has 5 or more characters: 10000 or more. */
bool tooLong(const QString &text)
{
    return text.section(QLatin1Char('.'), 0, 0).size() >= 5;
}

/*
 * The text's value in tenths, truncated, read off the digits: the whole part
 * and the first decimal. A text of any length gives a value that saturates
 * far above every field instead of overflowing; 0 for no plain decimal.
 */
qint64 tenths(const QString &text)
{
    if (!plainDecimal(text))
        return 0;
    const int point = text.indexOf(QLatin1Char('.'));
    const QString whole = point < 0 ? text : text.left(point);
    if (whole.size() > 12)
        return huge;
    qint64 value = whole.toLongLong() * 10;
    if (point >= 0)
        value += text.at(point + 1).digitValue();
    return value;
}

/* The text as a decimal number, truncated towards zero. */
qint64 truncated(const QString &text)
{
    return tenths(text) / 10;
}

uint16_t field16(qint64 value)
{
    return static_cast<uint16_t>(std::clamp<qint64>(value, 0, 0xFFFF));
}

uint8_t field8(qint64 value)
{
    return static_cast<uint8_t>(std::clamp<qint64>(value, 0, 0xFF));
}

/* Record a failed check in `outcome`. */
Outcome &refuse(Outcome &outcome, Field field, const QString &message, const QString &reason)
{
    outcome.field = field;
    outcome.message = message;
    outcome.reason = reason;
    return outcome;
}

Outcome &refuseInvalid(Outcome &outcome, Field field, const QString &text)
{
    return refuse(outcome, field, tr("输入值非法"),
                  QStringLiteral("'%1' is no plain decimal number").arg(text));
}

Outcome &refuseMissing(Outcome &outcome, Field field)
{
    return refuse(outcome, field, tr("有参数未输入!"), QStringLiteral("no value given"));
}

Outcome start(const q7x_work_param_t &reported, int kind)
{
    Outcome outcome;
    outcome.record = reported;
    outcome.record.strategy = static_cast<uint8_t>(kind);
    return outcome;
}

/* A delay or height field shared by the two activation pages. */
struct Limited {
    Field field;
    const QString &text;
    const char *tooLongMessage;
    const char *unit;
};

bool checkTooLong(Outcome &outcome, const Limited &input)
{
    if (tooLong(input.text))
        refuse(outcome, input.field, tr(input.tooLongMessage),
               QStringLiteral("%1 is 10000 %2 or more").arg(input.text, input.unit));
    return outcome.accepted();
}

bool checkInvalid(Outcome &outcome, const Limited &input)
{
    if (invalid(input.text))
        refuseInvalid(outcome, input.field, input.text);
    return outcome.accepted();
}

/* Checks and fields of the chosen activation; `distancePage` picks the page's own limits. */
bool fillActivation(Outcome &outcome, const Activation &activation, bool distancePage)
{
    q7x_work_param_t &record = outcome.record;
    const Limited powerOn{Field::PowerOnDelay, activation.powerOnDelay, "延时时间输入应小于10000!",
                          "s"};
    const Limited manual{Field::ManualDelay, activation.manualDelay, "延时时间输入应小于10000!",
                         "s"};
    const Limited height{Field::Height, activation.height, "高度输入应小于10000!", "m"};
    switch (activation.index) {
    case GearIndex:
        if (activation.landingGear)
            break;
        refuse(outcome, Field::LandingGear, tr("请检查是否连接起落架！"),
               QStringLiteral("the camera reports no landing-gear signal"));
        return false;
    case LevelIndex:
        record.external_level = activation.levelHigh ? 1 : 0;
        break;
    case PowerDelayIndex: {
        if (!checkTooLong(outcome, powerOn) || !checkInvalid(outcome, powerOn))
            return false;
        /* Below the minimum the camera starts at the page's own floor. */
        const qint64 seconds = truncated(activation.powerOnDelay);
        record.power_on_delay = field16(seconds <= 5 ? (distancePage ? 10 : 5) : seconds);
        break;
    }
    case ManualDelayIndex: {
        if (!checkInvalid(outcome, manual) || !checkTooLong(outcome, manual))
            return false;
        const qint64 seconds = truncated(activation.manualDelay);
        record.manual_delay = field16(distancePage && seconds <= 5 ? 5 : seconds);
        break;
    }
    case HeightIndex:
        if (!checkInvalid(outcome, height) || !checkTooLong(outcome, height))
            return false;
        record.activation_height = field16(truncated(activation.height));
        break;
    default:
        refuse(outcome, Field::None, tr("输入值非法"),
               QStringLiteral("no activation choice %1").arg(activation.index));
        return false;
    }
    record.activation = static_cast<uint8_t>(modeForIndex(activation.index));
    return true;
}

/* The text of the chosen activation's field; null for the modes that have none. */
const QString *activationText(const Activation &activation, Field *field)
{
    switch (activation.index) {
    case PowerDelayIndex:
        *field = Field::PowerOnDelay;
        return &activation.powerOnDelay;
    case ManualDelayIndex:
        *field = Field::ManualDelay;
        return &activation.manualDelay;
    case HeightIndex:
        *field = Field::Height;
        return &activation.height;
    default:
        return nullptr;
    }
}

} // namespace

int modeForIndex(int index)
{
    return index >= 0 && index < activationCount ? modes[index] : 0;
}

int indexForMode(int mode)
{
    for (int index = 0; index < activationCount; ++index)
        if (modes[index] == mode)
            return index;
    return -1;
}

Outcome distance(const q7x_work_param_t &reported, const QString &metres,
                 const Activation &activation)
{
    Outcome outcome = start(reported, Q7X_STRATEGY_DISTANCE);
    /* Less than a metre goes out as one metre. */
    const qint64 interval = tenths(metres);
    outcome.record.distance_interval = field16(interval < 10 ? 10 : interval);
    if (!fillActivation(outcome, activation, true))
        return outcome;

    /* The interval is checked once the operator has confirmed. */
    outcome.afterConfirmation = true;
    const QString over = tr("间隔应该输入小于500!");
    if (invalid(metres)) {
        refuseInvalid(outcome, Field::Distance, metres);
    } else if (metres.size() > 9) {
        refuse(outcome, Field::Distance, over,
               QStringLiteral("'%1' is longer than 9 characters").arg(metres));
    } else if (metres.toDouble() > 500) {
        /* Read as a decimal: "600.5" is as far above the limit as "600". */
        refuse(outcome, Field::Distance, over, QStringLiteral("%1 m is above 500 m").arg(metres));
    } else if (metres.isEmpty()) {
        refuseMissing(outcome, Field::Distance);
    } else {
        Field field = Field::None;
        const QString *text = activationText(activation, &field);
        if (text && text->isEmpty())
            refuseMissing(outcome, field);
    }
    if (outcome.accepted())
        outcome.afterConfirmation = false;
    return outcome;
}

Outcome timed(const q7x_work_param_t &reported, const QString &seconds,
              const Activation &activation)
{
    Outcome outcome = start(reported, Q7X_STRATEGY_TIMED);
    /* Tenths of a second: "1.5" goes out as 15. An interval that rounds down to no time at
     * all, or does not fit the record, is no interval. */
    const qint64 interval = tenths(seconds);
    if (seconds.isEmpty())
        return refuseMissing(outcome, Field::Interval);
    if (invalid(seconds))
        return refuseInvalid(outcome, Field::Interval, seconds);
    if (interval < 1 || interval > 0xFFFF)
        return refuse(outcome, Field::Interval, tr("输入值非法"),
                      QStringLiteral("%1 s is not between 0.1 s and 6553.5 s").arg(seconds));
    outcome.record.timed_interval = field16(interval);

    Field field = Field::None;
    const QString *text = activationText(activation, &field);
    if (text && text->isEmpty())
        return refuseMissing(outcome, field);
    fillActivation(outcome, activation, false);
    return outcome;
}

Outcome edge(const q7x_work_param_t &reported, bool rising)
{
    Outcome outcome = start(reported, Q7X_STRATEGY_EDGE);
    outcome.record.edge = rising ? 1 : 0;
    return outcome;
}

Outcome io(const q7x_work_param_t &reported, bool high, const QString &duration)
{
    Outcome outcome = start(reported, Q7X_STRATEGY_IO);
    if (duration.isEmpty())
        return refuseMissing(outcome, Field::Duration);
    if (invalid(duration))
        return refuseInvalid(outcome, Field::Duration, duration);
    if (tooLong(duration))
        return refuse(outcome, Field::Duration, tr("持续时间输入应小于10000!"),
                      QStringLiteral("%1 ms is 10000 ms or more").arg(duration));
    outcome.record.io_level = high ? 1 : 0;
    outcome.record.io_duration = field16(truncated(duration));
    return outcome;
}

Outcome pwm(const q7x_work_param_t &reported, const QString &pulse, const QString &period,
            const QString &duration)
{
    Outcome outcome = start(reported, Q7X_STRATEGY_PWM);
    const struct {
        Field field;
        const QString &text;
    } inputs[] = {{Field::Pulse, pulse}, {Field::Duration, duration}, {Field::Period, period}};
    for (const auto &input : inputs)
        if (input.text.isEmpty())
            return refuseMissing(outcome, input.field);
    for (const auto &input : inputs)
        if (invalid(input.text))
            return refuseInvalid(outcome, input.field, input.text);
    if (tooLong(duration))
        return refuse(outcome, Field::Duration, tr("持续时间输入应小于10000!"),
                      QStringLiteral("%1 ms is 10000 ms or more").arg(duration));
    /* Tenths of a millisecond in one byte: up to 25.5 ms. */
    if (pulse.toDouble() > 25.5)
        return refuse(outcome, Field::Pulse, tr("脉冲时间输入应小于25.5!"),
                      QStringLiteral("%1 ms is above 25.5 ms").arg(pulse));
    if (period.toDouble() > 25.5)
        return refuse(outcome, Field::Period, tr("周期输入应小于25.5!"),
                      QStringLiteral("%1 ms is above 25.5 ms").arg(period));
    outcome.record.pwm_pulse_time = field8(tenths(pulse));
    outcome.record.pwm_duration = field16(truncated(duration));
    outcome.record.pwm_period = field8(tenths(period));
    return outcome;
}

QString hex(const q7x_work_param_t &record)
{
    static_assert(sizeof record == 24, "the work-parameter record is 24 bytes");
    QByteArray bytes(sizeof record, '\0');
    std::memcpy(bytes.data(), &record, sizeof record);
    return QString::fromLatin1(bytes.toHex());
}

} // namespace StrategyRecords
