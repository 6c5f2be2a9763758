#include "GatherStrategyOptUi.h"

#include "StrategyPages.h"
#include "shell/CameraFields.h"
#include "shell/Mylabel.h"

#include <QStackedWidget>

namespace {

struct TabLook {
    int x;
    int width;
    const char *normal;
    const char *selected;
};

/* In stack order: distance, timed, edge, IO, PWM. */
constexpr TabLook tabLooks[StrategySync::tabCount] = {
    {2, 104, ":/Orvex/res/fixeddiatance_normal.png", ":/Orvex/res/fixeddiatance_click.png"},
    {106, 104, ":/Orvex/res/fixedtime_normal.png", ":/Orvex/res/fixedtime_click.png"},
    {208, 119, ":/Orvex/res/elge_normal.png", ":/Orvex/res/elge_click.png"},
    {327, 120, ":/Orvex/res/IO_normal.png", ":/Orvex/res/IO_click.png"},
    {447, 139, ":/Orvex/res/pwm_normal.png", ":/Orvex/res/pwm_click.png"},
};

} // namespace

GatherStrategyOptUi::GatherStrategyOptUi(QWidget *parent) : QWidget(parent)
{
    m_stack = new QStackedWidget(this);
    m_stack->setGeometry(0, 62, 581, 373);
    m_distance = new DistanceAutoOptUi;
    m_timed = new TimerAutoOptUi;
    m_edge = new EdgeExternalOptUi;
    m_io = new IOExternalOptUi;
    m_pwm = new PWMExternalOptUi;
    for (QWidget *page : QList<QWidget *>{m_distance, m_timed, m_edge, m_io, m_pwm})
        m_stack->addWidget(page);

    for (int tab = 0; tab < StrategySync::tabCount; ++tab) {
        auto *label = new Mylabel(this);
        label->setGeometry(tabLooks[tab].x, 20, tabLooks[tab].width, 35);
        connect(label, &Mylabel::clicked, this, [this, tab] { selectTab(tab); });
        m_tabs[static_cast<size_t>(tab)] = label;
    }
    selectTab(StrategySync::DistanceTab);
}

void GatherStrategyOptUi::selectTab(int tab)
{
    for (int other = 0; other < StrategySync::tabCount; ++other)
        m_tabs[static_cast<size_t>(other)]->setImage(
            QString::fromLatin1(other == tab ? tabLooks[other].selected : tabLooks[other].normal));
    m_stack->setCurrentIndex(tab);
}

int GatherStrategyOptUi::currentTab() const
{
    return m_stack->currentIndex();
}

void GatherStrategyOptUi::syncFromCamera(q7x_t *camera)
{
    /* Once per run: later changes on the camera do not overwrite what the operator typed. A
     * valid handle may have seen only an identity or position frame so far; the record is
     * there once a configuration frame has set the mode. */
    if (m_synced || !camera || q7x_get_valid(camera) != 1 || q7x_get_mode(camera) == 0)
        return;
    q7x_work_param_t record{};
    q7x_get_work_param(&record, camera);
    const StrategySync::Texts texts =
        StrategySync::texts(record, CameraFields::load(camera->option_word));
    if (texts.tab >= 0)
        selectTab(texts.tab);
    m_distance->applySync(texts.distance, texts.distanceActivation, texts);
    m_timed->applySync(texts.interval, texts.timedActivation, texts);
    m_edge->applySync(texts);
    m_io->applySync(texts);
    m_pwm->applySync(texts);
    m_synced = true;
}
