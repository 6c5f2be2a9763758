#include "Mylabel.h"

#include <QMouseEvent>

Mylabel::Mylabel(QWidget *parent) : QLabel(parent)
{
    setScaledContents(true);
}

void Mylabel::setImage(const QString &path)
{
    m_image = path;
    setPixmap(QPixmap(path));
}

void Mylabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QLabel::mousePressEvent(event);
}

void Mylabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit clickleave();
    QLabel::mouseReleaseEvent(event);
}

void Mylabel::enterEvent(QEnterEvent *event)
{
    setCursor(Qt::PointingHandCursor);
    emit enterEvent();
    QLabel::enterEvent(event);
}

void Mylabel::leaveEvent(QEvent *event)
{
    setCursor(Qt::ArrowCursor);
    emit leaveEvent();
    QLabel::leaveEvent(event);
}
