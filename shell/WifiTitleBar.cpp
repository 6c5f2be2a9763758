#include "WifiTitleBar.h"

#include "FramelessWindow.h"
#include "Mylabel.h"

#include <QLabel>
#include <QMouseEvent>

WifiTitleBar::WifiTitleBar(const QString &title, QWidget *parent) : QWidget(parent)
{
    setFixedSize(parent->width(), 27);
    m_title = new QLabel(title, this);
    m_title->setGeometry(10, 0, 160, 27);
    m_title->setFont(QFont(QStringLiteral("Microsoft YaHei"), 10));
    m_title->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
    m_close = new Mylabel(this);
    m_close->setImage(QStringLiteral(":/Orvex/res/close.png"));
    m_close->setGeometry(width() - 22, 7, 12, 12);
    m_close->setToolTip(tr("关闭"));
    connect(m_close, &Mylabel::clicked, this, &WifiTitleBar::onClicked);
}

void WifiTitleBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        FramelessWindow::startDrag(this);
    event->ignore();
}

void WifiTitleBar::onClicked()
{
    window()->hide();
}
