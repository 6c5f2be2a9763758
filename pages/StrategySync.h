/*
 * Filling the collection-strategy pages from the record the camera reports:
 * which strategy tab to show and what each page's fields say. The pages take
 * it over once per run, at the first status refresh with a valid handle.
 */
#ifndef PAGES_STRATEGYSYNC_H
#define PAGES_STRATEGYSYNC_H

#include "tavrin/tavrin.h"

#include <QString>

namespace StrategySync {

/* The strategy tabs, as their pages stand in the tab's stack. */
enum Tab { DistanceTab, TimedTab, EdgeTab, IoTab, PwmTab };
constexpr int tabCount = 5;

struct Texts {
    int tab = -1;                /* the tab to show; -1 leaves the tab as it is */
    int distanceActivation = -1; /* combo index of the distance page; -1 leaves it */
    int timedActivation = -1;    /* combo index of the timed page; -1 leaves it */
    QString interval;            /* timed page, seconds */
    QString distance;            /* distance page, metres */
    bool levelHigh = false;      /* both activation pages */
    QString powerOnDelay;        /* both activation pages */
    QString manualDelay;
    QString height;
    bool rising = false;
    bool ioHigh = false;
    QString ioDuration;
    QString pwmPulse;
    QString pwmPeriod;
    QString pwmDuration;
    bool landingGear = false; /* both activation pages' flags and check boxes */
};

/* The tab of a strategy kind; -1 for a kind without one (debug mode). */
int tabForKind(int kind);

/* The pages' texts for a reported record and the camera's option word. */
Texts texts(const q7x_work_param_t &record, unsigned optionWord);

} // namespace StrategySync

#endif
