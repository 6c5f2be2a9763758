#include "UpdataUi.h"

#include "DeviceIdentity.h"
#include "DeviceInfo.h"
#include "FirmwareUpgrade.h"
#include "ShengJiUi.h"
#include "platform/DialogPresenter.h"
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

    /* "检查新版本" has nothing to look at: there is no update server. */
    connect(m_localUpgrade, &QPushButton::clicked, this, &UpdataUi::onLocalUpgrade);

    QNetConfig *config = QNetConfig::instance();
    const bool connected = Orvex::instance()->cameraConnected == 1 && config->cameraHandle();
    m_localUpgrade->setEnabled(connected);
    m_checkNew->setEnabled(connected);
    if (connected) {
        const DeviceIdentity::Identity identity = DeviceIdentity::read(config->cameraHandle());
        m_serial->setText(identity.serial);
        m_version->setText(DeviceIdentity::versionText(identity.major, identity.minor));
    }
    if (rvtele_t *link = config->link(); link && CameraFields::load(link->loader_status) == 2)
        m_status->setText(tr("飞控升级失败"));
}

UpdataUi *UpdataUi::open(QWidget *window)
{
    auto *dialog = new UpdataUi(window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    FramelessWindow::placeAtThird(dialog, window);
    dialog->show();
    return dialog;
}

QString UpdataUi::serialText() const
{
    return m_serial->text();
}

QString UpdataUi::versionText() const
{
    return m_version->text();
}

QString UpdataUi::statusText() const
{
    return m_status->text();
}

bool UpdataUi::upgradeEnabled() const
{
    return m_localUpgrade->isEnabled();
}

void UpdataUi::onLocalUpgrade()
{
    const QString file =
        DialogPresenter::instance()->askOpenFile(this, tr("打开"), QStringLiteral("(*.bin)"));
    if (file.isEmpty())
        return;
    DeviceInfo::instance()->followUpgrade(
        ShengJiUi::startUpgrade(file, FirmwareUpgrade::localOptions(), [this] { close(); }));
}
