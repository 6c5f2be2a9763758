#include "ConfigTesUi.h"

#include "shell/Orvex.h"

#include <QLabel>

ConfigTesUi::ConfigTesUi(QWidget *parent) : QWidget(parent)
{
    m_title = new QLabel(tr("采集策略"), this);
    m_title->setGeometry(30, 20, 200, 24);
    m_title->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
    connect(Orvex::instance(), &Orvex::statusRefreshed, this, &ConfigTesUi::refreshFromCamera);
}

void ConfigTesUi::refreshFromCamera(q7x_t *camera)
{
    if (camera)
        q7x_get_work_param(&m_reported, camera);
}
