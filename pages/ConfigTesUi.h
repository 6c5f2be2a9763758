/*
 * The configuration test page: two captioned tabs, the collection strategy
 * (GatherStrategyOptUi) and the device debug page (DeviceDebugOpt).
 */
#ifndef PAGES_CONFIGTESUI_H
#define PAGES_CONFIGTESUI_H

#include <QWidget>

class GatherStrategyOptUi;
class Mylabel;
class QLabel;
class QStackedWidget;

class ConfigTesUi : public QWidget {
    Q_OBJECT

public:
    enum Tab { StrategyTab, DebugTab };

    explicit ConfigTesUi(QWidget *parent = nullptr);

    /* Show `tab`: its caption in blue, the other in grey, and its header picture. */
    void selectTab(int tab);
    int currentTab() const;
    QString headerImage() const { return m_headerImage; }

    GatherStrategyOptUi *strategyTab() const { return m_strategy; }
    Mylabel *caption(int tab) const
    {
        return tab == StrategyTab ? m_strategyCaption : m_debugCaption;
    }

private:
    QLabel *m_header;
    QString m_headerImage;
    Mylabel *m_strategyCaption;
    Mylabel *m_debugCaption;
    QStackedWidget *m_stack;
    GatherStrategyOptUi *m_strategy;
};

#endif
