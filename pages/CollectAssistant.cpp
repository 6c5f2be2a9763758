#include "CollectAssistant.h"

#include <QLabel>

CollectAssistant::CollectAssistant(QWidget *parent) : QWidget(parent)
{
    auto *title = new QLabel(tr("采集助手"), this);
    title->setGeometry(30, 20, 200, 24);
    title->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
}
