#include "UpdataUi.h"

#include "shell/CameraFields.h"
#include "shell/FramelessWindow.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

#include <QLabel>
#include <QPushButton>

UpdataUi::UpdataUi(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(320, 220);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/bg_warningbox.png"));
    FramelessWindow::applyRoundedMask(this);
    const QString white = QStringLiteral("color:rgb(255, 255, 255);");

    auto *family = new QPushButton(QStringLiteral("Korvella"), this);
    family->setGeometry(20, 40, 100, 26);
    auto *close = new QPushButton(tr("关闭"), this);
    close->setGeometry(240, 40, 60, 26);
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto *serialCaption = new QLabel(tr("SN号："), this);
    serialCaption->setGeometry(20, 75, 110, 22);
    auto *versionCaption = new QLabel(tr("当前固件版本号:"), this);
    versionCaption->setGeometry(20, 105, 110, 22);
    m_serial = new QLabel(this);
    m_serial->setGeometry(130, 75, 160, 22);
    m_version = new QLabel(this);
    m_version->setGeometry(130, 105, 160, 22);
    m_status = new QLabel(this);
    m_status->setGeometry(20, 135, 260, 22);
    for (QLabel *label : {serialCaption, versionCaption, m_serial, m_version, m_status})
        label->setStyleSheet(white);

    m_localUpgrade = new QPushButton(tr("本地升级"), this);
    m_localUpgrade->setGeometry(50, 172, 100, 28);
    m_checkNew = new QPushButton(tr("检查新版本"), this);
    m_checkNew->setGeometry(170, 172, 100, 28);

    QNetConfig *config = QNetConfig::instance();
    const bool connected = Orvex::instance()->cameraConnected == 1 && config->cameraHandle();
    m_localUpgrade->setEnabled(connected);
    m_checkNew->setEnabled(connected);
    if (connected) {
        q7x_t *camera = config->cameraHandle();
        m_serial->setText(CameraFields::text(camera->serial_number));
        m_version->setText(QStringLiteral("V%1.%2")
                               .arg(CameraFields::load(camera->version_major))
                               .arg(CameraFields::load(camera->version_minor)));
    }
    if (rvtele_t *link = config->link(); link && CameraFields::load(link->loader_status) == 2)
        m_status->setText(tr("飞控升级失败"));
}
