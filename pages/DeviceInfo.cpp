#include "DeviceInfo.h"

#include "DeviceIdentity.h"
#include "FirmwareUpgrade.h"
#include "ShengJiUi.h"
#include "platform/DialogPresenter.h"
#include "pos/PosRules.h"
#include "shell/CameraFields.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

#include <QDebug>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

QLabel *textLabel(QWidget *parent, const QString &text, int x, int y, int width)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, y, width, 24);
    label->setFont(QFont(QStringLiteral("微软雅黑"), 11));
    label->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
    return label;
}

bool cameraReady()
{
    return Orvex::instance()->cameraConnected == 1 && QNetConfig::instance()->cameraHandle();
}

} // namespace

DeviceInfo *DeviceInfo::instance()
{
    static DeviceInfo *page = new DeviceInfo;
    return page;
}

DeviceInfo::DeviceInfo(QWidget *parent) : QWidget(parent)
{
    textLabel(this, tr("设备SN："), 150, 120, 120);
    textLabel(this, tr("当前固件版本："), 150, 160, 120);
    textLabel(this, tr("发布日期："), 150, 200, 120);
    textLabel(this, tr("固件日期："), 150, 240, 120);
    m_hardwareCaption = textLabel(this, tr("硬件版本："), 150, 280, 120);
    m_serial = textLabel(this, QStringLiteral("1111"), 280, 120, 200);
    m_version = textLabel(this, QStringLiteral("V0.0"), 280, 160, 200);
    m_releaseDate = textLabel(this, QStringLiteral("2019-03-28"), 280, 200, 200);
    m_firmwareDate = textLabel(this, QStringLiteral("2019-03-28"), 280, 240, 200);
    m_hardware = textLabel(this, QStringLiteral("V1.0"), 280, 280, 200);
    m_update = new QPushButton(tr("更新"), this);
    m_update->setGeometry(280, 330, 90, 28);
    connect(m_update, &QPushButton::clicked, this, &DeviceInfo::onUpdateClicked);
    m_identity = {m_serial,          m_version,  m_releaseDate, m_firmwareDate,
                  m_hardwareCaption, m_hardware, m_update};
    setIdentityVisible(false);

    m_releaseDatePoll = new QTimer(this);
    connect(m_releaseDatePoll, &QTimer::timeout, this, &DeviceInfo::onReleaseDatePoll);
    m_releaseDatePoll->start(500);
    m_versionCheck = new QTimer(this);
    connect(m_versionCheck, &QTimer::timeout, this, &DeviceInfo::onVersionCheck);
    m_identityRefresh = new QTimer(this);
    connect(m_identityRefresh, &QTimer::timeout, this, &DeviceInfo::refreshIdentity);

    QNetConfig *link = QNetConfig::instance();
    connect(link, &QNetConfig::linkOpened, this, [this] { startReleaseDatePoll(500); });
    connect(link, &QNetConfig::cameraConnected, this, [this] { startVersionCheck(500); });
    connect(link, &QNetConfig::cameraDisconnected, this, &DeviceInfo::stopVersionCheck);
    Orvex *window = Orvex::instance();
    connect(window, &Orvex::connectionChanged, this, &DeviceInfo::setIdentityVisible);
    connect(window, &Orvex::pageShown, this, [this, window](int entry) {
        if (entry == Orvex::DeviceInfoEntry && !window->connected)
            setIdentityVisible(false);
    });
}

void DeviceInfo::setIdentityVisible(bool visible)
{
    for (QWidget *widget : m_identity)
        widget->setVisible(visible);
}

bool DeviceInfo::identityVisible() const
{
    return !m_serial->isHidden();
}

void DeviceInfo::startReleaseDatePoll(int periodMs)
{
    m_releaseDatePoll->start(periodMs);
}

void DeviceInfo::startVersionCheck(int periodMs)
{
    m_versionCheck->start(periodMs);
}

void DeviceInfo::stopVersionCheck()
{
    m_versionCheck->stop();
}

QString DeviceInfo::serialText() const
{
    return m_serial->text();
}

QString DeviceInfo::versionText() const
{
    return m_version->text();
}

QString DeviceInfo::hardwareText() const
{
    return m_hardware->text();
}

QString DeviceInfo::releaseDateText() const
{
    return m_releaseDate->text();
}

bool DeviceInfo::versionCheckActive() const
{
    return m_versionCheck->isActive();
}

bool DeviceInfo::identityRefreshActive() const
{
    return m_identityRefresh->isActive();
}

int DeviceInfo::posRecordSizeFor(const QString &serial)
{
    return PosRules::recordSizeForSerial(serial);
}

void DeviceInfo::refreshIdentity()
{
    q7x_t *camera = QNetConfig::instance()->cameraHandle();
    if (!camera)
        return;
    const DeviceIdentity::Identity identity = DeviceIdentity::read(camera);
    m_serial->setText(identity.serial);
    m_hardware->setText(DeviceIdentity::hardwareText(identity.modelFlag));
    m_version->setText(DeviceIdentity::versionText(identity.major, identity.minor));
    Orvex *window = Orvex::instance();
    window->serialNumber = identity.serial;
    window->firmwareVersion = identity.version();
    if (const int size = posRecordSizeFor(identity.serial))
        window->posRecordSize = size;
}

void DeviceInfo::onReleaseDatePoll()
{
    q7x_t *camera = QNetConfig::instance()->cameraHandle();
    if (!camera)
        return;
    const QString date = CameraFields::text(camera->release_date);
    qDebug() << "release date:" << date;
    if (date.size() < 5) {
        q7x_get_builddate(camera);
        m_releaseDate->clear();
        return;
    }
    m_releaseDate->setText(date);
    m_releaseDatePoll->stop();
}

void DeviceInfo::onVersionCheck()
{
    refreshIdentity();
    const UpdateConfig config = readUpdateConfig();
    if (!config.problem.isEmpty() && !m_configProblemLogged) {
        qInfo("no firmware offer: %s", qPrintable(config.problem));
        m_configProblemLogged = true;
    }
    const QString current = DeviceIdentity::read(QNetConfig::instance()->cameraHandle()).version();
    switch (DeviceIdentity::versionCheck(config.newestVersion, current)) {
    case DeviceIdentity::VersionCheck::Stop:
        m_versionCheck->stop();
        return;
    case DeviceIdentity::VersionCheck::Retry:
        return;
    case DeviceIdentity::VersionCheck::Offer:
        break;
    }
    m_versionCheck->stop();
    m_identityRefresh->start(1000);
    if (DialogPresenter::instance()->ask(Orvex::instance(),
                                         tr("当前固件版本是") + current + tr(",是否升级？")))
        upgradeAsConfigured();
}

void DeviceInfo::upgradeAsConfigured()
{
    const UpdateConfig config = readUpdateConfig();
    if (config.firmwarePath.isEmpty()) {
        DialogPresenter::instance()->warn(Orvex::instance(), tr("升级配置文件有误！"),
                                          config.problem);
        return;
    }
    followUpgrade(
        ShengJiUi::startUpgrade(config.firmwarePath, FirmwareUpgrade::configuredOptions()));
}

void DeviceInfo::onUpdateClicked()
{
    Orvex *window = Orvex::instance();
    DialogPresenter *presenter = DialogPresenter::instance();
    if (!cameraReady()) {
        presenter->warn(window, tr("相机未连接！"), QString());
        return;
    }
    const QString file = presenter->askOpenFile(window, tr("打开"), QStringLiteral("(*.bin)"));
    if (file.isEmpty())
        return;
    followUpgrade(ShengJiUi::startUpgrade(file, FirmwareUpgrade::manualOptions()));
}

void DeviceInfo::followUpgrade(ShengJiUi *dialog)
{
    /* The new firmware has its own release date: ask for it again once it runs. */
    if (dialog)
        connect(dialog, &ShengJiUi::upgraded, this, [this] { startReleaseDatePoll(500); });
}
