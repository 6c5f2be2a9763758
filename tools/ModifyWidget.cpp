#include "ModifyWidget.h"

#include <QLabel>

ModifyWidget::ModifyWidget(QWidget *parent) : QWidget(parent)
{
    auto *title = new QLabel(tr("照片工具"), this);
    title->setGeometry(30, 20, 200, 24);
    title->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
}
