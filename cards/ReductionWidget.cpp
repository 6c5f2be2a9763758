#include "ReductionWidget.h"

#include <QLabel>

ReductionWidget *ReductionWidget::instance()
{
    static ReductionWidget *page = new ReductionWidget;
    return page;
}

ReductionWidget::ReductionWidget(QWidget *parent) : QWidget(parent)
{
    auto *title = new QLabel(tr("影像清空"), this);
    title->setGeometry(30, 20, 200, 24);
    title->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
}
