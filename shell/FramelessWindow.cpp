#include "FramelessWindow.h"

#include <QBitmap>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QWidget>
#include <QWindow>

namespace FramelessWindow {

void applyRoundedMask(QWidget *window)
{
    QBitmap mask(window->size());
    mask.fill(Qt::color0);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::color1);
    painter.drawRoundedRect(mask.rect(), 5.0, 5.0);
    painter.end();
    window->setMask(mask);
}

void setBackground(QWidget *widget, const QString &imagePath)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor(50, 50, 50, 255));
    const QPixmap image(imagePath);
    if (!image.isNull())
        palette.setBrush(
            QPalette::Window,
            QBrush(image.scaled(widget->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void startDrag(QWidget *window)
{
    if (QWindow *handle = window->window()->windowHandle())
        handle->startSystemMove();
}

void placeAtThird(QWidget *dialog, const QWidget *anchor)
{
    const QRect frame = anchor->geometry();
    dialog->move(frame.x() + frame.width() / 3, frame.y() + frame.height() / 3);
}

void centreOn(QWidget *dialog, const QWidget *anchor)
{
    const QRect frame = anchor->geometry();
    dialog->move(frame.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
}

} // namespace FramelessWindow
