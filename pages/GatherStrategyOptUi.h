/*
 * The collection-strategy tab: five picture tabs over the stack of the five
 * strategy pages, and the once-per-run sync of the pages from the record the
 * camera reports.
 */
#ifndef PAGES_GATHERSTRATEGYOPTUI_H
#define PAGES_GATHERSTRATEGYOPTUI_H

#include "StrategySync.h"
#include "tavrin/tavrin.h"

#include <QWidget>
#include <array>

class DistanceAutoOptUi;
class EdgeExternalOptUi;
class IOExternalOptUi;
class Mylabel;
class PWMExternalOptUi;
class QStackedWidget;
class TimerAutoOptUi;

class GatherStrategyOptUi : public QWidget {
    Q_OBJECT

public:
    explicit GatherStrategyOptUi(QWidget *parent = nullptr);

    /* Show tab `tab` (a StrategySync::Tab): its selected picture, the others' normal ones. */
    void selectTab(int tab);
    int currentTab() const;
    bool synced() const { return m_synced; }

    Mylabel *tabLabel(int tab) const { return m_tabs[static_cast<size_t>(tab)]; }
    DistanceAutoOptUi *distancePage() const { return m_distance; }
    TimerAutoOptUi *timedPage() const { return m_timed; }
    EdgeExternalOptUi *edgePage() const { return m_edge; }
    IOExternalOptUi *ioPage() const { return m_io; }
    PWMExternalOptUi *pwmPage() const { return m_pwm; }

public slots:
    /* At a status refresh: the first time the handle is valid, fill the pages from its record. */
    void syncFromCamera(q7x_t *camera);

private:
    std::array<Mylabel *, StrategySync::tabCount> m_tabs{};
    QStackedWidget *m_stack;
    DistanceAutoOptUi *m_distance;
    TimerAutoOptUi *m_timed;
    EdgeExternalOptUi *m_edge;
    IOExternalOptUi *m_io;
    PWMExternalOptUi *m_pwm;
    bool m_synced = false;
};

#endif
