/*
 * The work-parameter records of the five collection-strategy pages: the
 * texts and choices of a page in, the 24-byte record to send (starting from
 * the record the camera last reported, with only the page's own fields
 * changed) or the first failed check out. The pages and orvex-cli strategy
 * both build their records here.
 */
#ifndef PAGES_STRATEGYRECORDS_H
#define PAGES_STRATEGYRECORDS_H

#include "tavrin/tavrin.h"

#include <QString>

namespace StrategyRecords {

/* The activation choices of the distance and timed pages, in the combo box's order. */
enum ActivationIndex { GearIndex, LevelIndex, PowerDelayIndex, ManualDelayIndex, HeightIndex };
constexpr int activationCount = 5;

/* The record's activation mode of a combo index (1, 2, 3, 5, 4); 0 for no index. */
int modeForIndex(int index);
/* The combo index of an activation mode; -1 for a mode that has none. */
int indexForMode(int mode);

/* The activation part of the distance and timed pages. */
struct Activation {
    int index = GearIndex;
    bool landingGear = false; /* the page's landing-gear flag */
    bool levelHigh = true;    /* "高电平" checked */
    QString powerOnDelay;     /* seconds */
    QString manualDelay;      /* seconds */
    QString height;           /* metres */
};

/* The input a check failed on. */
enum class Field {
    None,
    LandingGear,
    Distance,
    Interval,
    PowerOnDelay,
    ManualDelay,
    Height,
    Duration,
    Pulse,
    Period
};

struct Outcome {
    q7x_work_param_t record{};
    /* Empty when the record may go out; else the page's message. */
    QString message;
    /* The same in English, without the input's name (orvex-cli names its option). */
    QString reason;
    Field field = Field::None;
    /* The distance page asks its question before it checks its interval: such a failure is
     * shown only once the operator has confirmed. */
    bool afterConfirmation = false;

    bool accepted() const { return message.isEmpty(); }
};

/* Kind 3: the interval in metres and the activation. */
Outcome distance(const q7x_work_param_t &reported, const QString &metres,
                 const Activation &activation);
/* Kind 2: the interval in seconds and the activation. */
Outcome timed(const q7x_work_param_t &reported, const QString &seconds,
              const Activation &activation);
/* Kind 6: the rising or the falling edge. */
Outcome edge(const q7x_work_param_t &reported, bool rising);
/* Kind 5: the level and its duration in milliseconds. */
Outcome io(const q7x_work_param_t &reported, bool high, const QString &duration);
/* Kind 4: pulse time, period and pulse duration in milliseconds. */
Outcome pwm(const q7x_work_param_t &reported, const QString &pulse, const QString &period,
            const QString &duration);

/* The 24 bytes as the camera receives them, in hexadecimal. */
QString hex(const q7x_work_param_t &record);

} // namespace StrategyRecords

#endif
