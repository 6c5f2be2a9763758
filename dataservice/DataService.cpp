#include "DataService.h"

#include "shell/Orvex.h"
#include "shell/TitleBar.h"

#include <QLabel>

DataService *DataService::instance()
{
    static DataService *page = new DataService;
    return page;
}

DataService::DataService(QWidget *parent) : QWidget(parent)
{
    auto *title = new QLabel(tr("影像下载"), this);
    title->setGeometry(30, 20, 200, 24);
    title->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
    connect(Orvex::instance()->titleBar(), &TitleBar::signalclose, this,
            &DataService::onsignalclose);
}

void DataService::onsignalclose()
{
    /* This page starts no transfer yet, so there is nothing to save. */
}
