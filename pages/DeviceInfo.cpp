#include "DeviceInfo.h"

#include "pos/PosRules.h"
#include "shell/CameraFields.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

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
    m_identity = {m_serial,          m_version,  m_releaseDate, m_firmwareDate,
                  m_hardwareCaption, m_hardware, m_update};
    setIdentityVisible(false);

    m_releaseDatePoll = new QTimer(this);
    connect(m_releaseDatePoll, &QTimer::timeout, this, &DeviceInfo::onReleaseDatePoll);
    m_releaseDatePoll->start(500);
    m_versionCheck = new QTimer(this);
    connect(m_versionCheck, &QTimer::timeout, this, &DeviceInfo::onVersionCheck);

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

QString DeviceInfo::releaseDateText() const
{
    return m_releaseDate->text();
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
    using CameraFields::load;
    const int major = load(camera->version_major);
    const int minor = load(camera->version_minor);
    if (major == 0 && minor == 0)
        return;
    const QString serial = CameraFields::text(camera->serial_number);
    const QString version = QStringLiteral("%1.%2").arg(major).arg(minor);
    m_serial->setText(serial);
    m_version->setText(QStringLiteral("V") + version);
    m_hardware->setText(QStringLiteral("V%1.0").arg(load(camera->model_flag)));
    Orvex *window = Orvex::instance();
    window->serialNumber = serial;
    window->firmwareVersion = version;
    if (const int size = posRecordSizeFor(serial))
        window->posRecordSize = size;
}

void DeviceInfo::onReleaseDatePoll()
{
    q7x_t *camera = QNetConfig::instance()->cameraHandle();
    if (!camera)
        return;
    const QString date = CameraFields::text(camera->release_date);
    if (date.isEmpty()) {
        q7x_get_builddate(camera);
        return;
    }
    m_releaseDate->setText(date);
    m_releaseDatePoll->stop();
}

void DeviceInfo::onVersionCheck()
{
    refreshIdentity();
    q7x_t *camera = QNetConfig::instance()->cameraHandle();
    if (camera && (CameraFields::load(camera->version_major) != 0 ||
                   CameraFields::load(camera->version_minor) != 0))
        m_versionCheck->stop();
}
