#include "AirSerial.h"

#include "FramelessWindow.h"
#include "Mylabel.h"
#include "Orvex.h"
#include "QNetConfig.h"
#include "WifiTitleBar.h"

#include <QStackedWidget>

AirSerial *AirSerial::instance()
{
    static AirSerial *window = new AirSerial(Orvex::instance());
    return window;
}

AirSerial::AirSerial(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(243, 182);
    setWindowTitle(tr("连接设置"));
    FramelessWindow::applyRoundedMask(this);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/bjs.png"));

    m_titleBar = new WifiTitleBar(tr("连接设置"), this);
    m_titleBar->move(0, 0);

    m_networkTab = new Mylabel(this);
    m_networkTab->setImage(QStringLiteral(":/Orvex/res/net .png"));
    m_networkTab->setGeometry(0, 27, 121, 30);
    m_serialTab = new Mylabel(this);
    m_serialTab->setImage(QStringLiteral(":/Orvex/res/chuankoushezhi  normal.png"));
    m_serialTab->setGeometry(122, 27, 121, 30);
    connect(m_networkTab, &Mylabel::clicked, this, &AirSerial::onClicked);
    connect(m_serialTab, &Mylabel::clicked, this, &AirSerial::onClicked);

    m_stack = new QStackedWidget(this);
    m_stack->setGeometry(0, 57, 243, 125);
    QNetConfig *page = QNetConfig::instance();
    m_stack->addWidget(page);
    m_stack->setCurrentIndex(0);
}

void AirSerial::onClicked()
{
    /* The serial tab only changes the pictures: the program opens no serial link. */
    const bool network = sender() == m_networkTab;
    m_networkTab->setImage(network ? QStringLiteral(":/Orvex/res/net .png")
                                   : QStringLiteral(":/Orvex/res/net normal.png"));
    m_serialTab->setImage(network ? QStringLiteral(":/Orvex/res/chuankoushezhi  normal.png")
                                  : QStringLiteral(":/Orvex/res/chuankoushezhi.png"));
    if (network)
        m_stack->setCurrentIndex(0);
}
