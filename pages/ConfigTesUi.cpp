#include "ConfigTesUi.h"

#include "DeviceDebugOpt.h"
#include "GatherStrategyOptUi.h"
#include "shell/FramelessWindow.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"

#include <QStackedWidget>

namespace {

const QString selectedColour = QStringLiteral("color: rgb(0, 185, 255);");
const QString otherColour = QStringLiteral("color: rgb(120, 120, 120);");

} // namespace

ConfigTesUi::ConfigTesUi(QWidget *parent) : QWidget(parent)
{
    setFixedSize(606, 508);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/configtest_bk.png"));

    /* The header's two tab shapes lie under the captions. */
    m_header = new QLabel(this);
    m_header->setGeometry(10, 40, 584, 36);
    m_header->setScaledContents(true);

    QFont font(QStringLiteral("Microsoft YaHei"), 9);
    font.setBold(true);
    m_strategyCaption = new Mylabel(this);
    m_strategyCaption->setText(tr("采集策略"));
    m_strategyCaption->setGeometry(37, 48, 51, 21);
    m_debugCaption = new Mylabel(this);
    m_debugCaption->setText(tr("设备调试"));
    m_debugCaption->setGeometry(143, 48, 51, 21);
    for (Mylabel *caption : {m_strategyCaption, m_debugCaption})
        caption->setFont(font);
    connect(m_strategyCaption, &Mylabel::clicked, this, [this] { selectTab(StrategyTab); });
    connect(m_debugCaption, &Mylabel::clicked, this, [this] { selectTab(DebugTab); });

    m_stack = new QStackedWidget(this);
    m_stack->setGeometry(10, 84, 584, 415);
    m_strategy = new GatherStrategyOptUi;
    m_stack->addWidget(m_strategy);
    m_stack->addWidget(DeviceDebugOpt::instance());
    selectTab(StrategyTab);

    connect(Orvex::instance(), &Orvex::statusRefreshed, m_strategy,
            &GatherStrategyOptUi::syncFromCamera);
}

void ConfigTesUi::selectTab(int tab)
{
    m_strategyCaption->setStyleSheet(tab == StrategyTab ? selectedColour : otherColour);
    m_debugCaption->setStyleSheet(tab == DebugTab ? selectedColour : otherColour);
    m_headerImage = tab == StrategyTab ? QStringLiteral(":/Orvex/res/caijicelv.png")
                                       : QStringLiteral(":/Orvex/res/sehbeitiaoshi.png");
    m_header->setPixmap(QPixmap(m_headerImage));
    m_stack->setCurrentIndex(tab);
}

int ConfigTesUi::currentTab() const
{
    return m_stack->currentIndex();
}
