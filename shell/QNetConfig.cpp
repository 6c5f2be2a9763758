#include "QNetConfig.h"

#include "CameraFields.h"
#include "Mylabel.h"
#include "platform/AppSettings.h"
#include "platform/DialogPresenter.h"
#include "platform/WifiNetwork.h"

#include <QLabel>
#include <QTimer>

namespace {
const QString red = QStringLiteral("color:  rgb(255, 0, 0);");
const QString green = QStringLiteral("color: rgb(0, 170, 0);");
const QString black = QStringLiteral("color: rgb(0, 0, 0);");
const QString white = QStringLiteral("color: rgb(255, 255, 255);");
} // namespace

QNetConfig *QNetConfig::instance()
{
    static QNetConfig *config = new QNetConfig;
    return config;
}

QNetConfig::QNetConfig(QWidget *parent) : QWidget(parent)
{
    setFixedSize(282, 182);

    auto *stateCaption = new QLabel(tr("网络状态："), this);
    stateCaption->setGeometry(50, 10, 91, 21);
    stateCaption->setStyleSheet(white);
    stateCaption->setFont(QFont(QStringLiteral("微软雅黑"), 12));
    m_state = new QLabel(tr("未连接"), this);
    m_state->setGeometry(140, 10, 71, 21);
    m_state->setFont(QFont(QStringLiteral("微软雅黑"), 12));
    m_state->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));

    m_button = new Mylabel(this);
    m_button->setImage(QStringLiteral(":/Orvex/res/btn_nor.png"));
    m_button->setGeometry(75, 50, 108, 32);
    m_caption = new Mylabel(this);
    m_caption->setText(tr("连接"));
    m_caption->setGeometry(110, 50, 108, 32);
    m_caption->setFont(QFont(QStringLiteral("Microsoft YaHei"), 12, QFont::Normal));
    m_caption->setStyleSheet(black);
    for (Mylabel *label : {m_button, m_caption}) {
        connect(label, &Mylabel::clicked, this, &QNetConfig::onClicked);
        connect(label, qOverload<>(&Mylabel::enterEvent), this, &QNetConfig::onenterEvent);
        connect(label, qOverload<>(&Mylabel::leaveEvent), this, &QNetConfig::onleaveEvent);
    }

    m_networkName = new QLabel(this);
    m_networkName->setGeometry(60, 90, 141, 21);
    m_networkName->setFont(QFont(QStringLiteral("微软雅黑"), 14));
    m_networkName->setStyleSheet(white);
    m_networkName->hide();

    m_versionTimer = new QTimer(this);
    connect(m_versionTimer, &QTimer::timeout, this, &QNetConfig::onTimeout);
    m_versionTimer->start(500);
    m_checkTimer = new QTimer(this);
    connect(m_checkTimer, &QTimer::timeout, this, &QNetConfig::onTimeoutcheck);
}

int QNetConfig::openLink()
{
    const bool reused = m_link != nullptr;
    if (!m_link) {
        rvtele_module_init();
        const QByteArray address = AppSettings::cameraAddress().toLatin1();
        m_link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, address.constData(), AppSettings::cameraPort(),
                              TAVRIN_RING_CAPACITY);
    }
    if (!m_camera && m_link)
        m_camera = q7x_alloc(m_link);
    if (!m_link || !m_camera)
        return -1;
    /* A link left running by an automatic disconnect is stopped and started afresh. */
    if (reused)
        rvtele_stop(m_link);
    rvtele_start(m_link);
    m_versionTimer->start(1000);
    m_upgrader = rvupgrader_request(m_link, RVUPGRADER_MSG_ID);
    emit linkOpened();
    return 0;
}

int QNetConfig::closeLink()
{
    if (!m_link)
        return -1;
    rvtele_stop(m_link);
    rvtele_free(m_link);
    if (m_camera)
        q7x_free(m_camera);
    rvtele_module_exit();
    m_link = nullptr;
    m_camera = nullptr;
    return 0;
}

int QNetConfig::linkValid() const
{
    if (!m_camera)
        return -1;
    return CameraFields::load(m_camera->flags) & Q7X_FLAG_VALID ? 1 : 0;
}

int QNetConfig::clearLinkValid()
{
    if (!m_camera)
        return -1;
    std::atomic_ref<uint32_t>(m_camera->flags)
        .fetch_and(~Q7X_FLAG_VALID, std::memory_order_relaxed);
    return 0;
}

int QNetConfig::gpsFix() const
{
    if (!m_camera)
        return -1;
    return CameraFields::load(m_camera->flags) & Q7X_FLAG_GPS_FIX ? 1 : 0;
}

int QNetConfig::coordinateDegrees() const
{
    if (!m_camera)
        return -1;
    return static_cast<int>(CameraFields::load(m_camera->coordinate1));
}

QString QNetConfig::stateText() const
{
    return m_state->text();
}

QString QNetConfig::networkName() const
{
    return m_networkName->isHidden() ? QString() : m_networkName->text();
}

QString QNetConfig::captionText() const
{
    return m_caption->text();
}

void QNetConfig::setupPosManager()
{
    if (m_posManager && m_posManager->link == m_link)
        return;
    /* Listeners let go of the old manager before it is released. */
    emit posManagerChanged(nullptr);
    posfile_manager_exit(m_posManager);
    m_posManager = m_link ? posfile_manager_init(m_link) : nullptr;
    emit posManagerChanged(m_posManager);
}

void QNetConfig::showDisconnected()
{
    m_networkName->hide();
    m_state->setText(tr("未连接"));
    m_state->setStyleSheet(red);
    m_caption->setText(tr("连接"));
    m_connected = false;
    emit linkDown();
    emit cameraDisconnected();
}

void QNetConfig::onClicked()
{
    m_caption->setStyleSheet(black);
    m_button->setImage(QStringLiteral(":/Orvex/res/btn_blue_hover.png"));

    if (m_connected) {
        if (closeLink() == -1)
            return;
        showDisconnected();
        m_checkTimer->stop();
        m_lastSeenIndex = -1;
        return;
    }

    if (openLink() == -1)
        return;
    QString name;
    int result;
    const bool loopback = AppSettings::isLoopback(AppSettings::cameraAddress());
    if (loopback) {
        /* A camera on this computer (the simulator): there is no WiFi to check. */
        name = QStringLiteral("localhost");
        result = 0;
    } else {
        result = WIFI::getSSid(name);
    }
    if (name.isEmpty()) {
        DialogPresenter::instance()->warn(window(), tr("未连接WIFI!"), QString());
        return;
    }
    if (result == 0 && !loopback && !name.startsWith(QLatin1String("Q7"))) {
        DialogPresenter::instance()->warn(window(), tr("请连接Q7相机的WIFI！"), QString());
        return;
    }
    if (result == 0) {
        m_networkName->setText(name);
        m_networkName->show();
        m_state->setText(tr("已连接"));
        m_state->setStyleSheet(green);
        m_caption->setText(tr("断开"));
        emit networkJoined();
        setupPosManager();
    }
    m_connected = true;
    m_checkTimer->start(5000);
    CameraFields::store(m_camera->index, 0u);
    emit linkUp();
    emit cameraConnected();
}

void QNetConfig::onTimeout()
{
    if (!m_camera)
        return;
    if (CameraFields::load(m_camera->version_major) == 0 &&
        CameraFields::load(m_camera->version_minor) == 0)
        q7x_get_version(m_camera);
    else
        m_versionTimer->stop();
}

void QNetConfig::onTimeoutcheck()
{
    const qint64 index = q7x_get_index(m_camera);
    if (index == m_lastSeenIndex) {
        const bool upgrading =
            m_posManager && CameraFields::load(m_posManager->activity) == POSFILE_ACTIVITY_UPGRADE;
        if (!upgrading) {
            DialogPresenter::instance()->warn(window(), tr("相机断开"),
                                              tr("请检查相机供电和本地WIFI连接！"));
            showDisconnected();
            m_checkTimer->stop();
        }
    }
    if (m_camera)
        m_lastSeenIndex = q7x_get_index(m_camera);
}

void QNetConfig::onenterEvent()
{
    m_caption->setStyleSheet(white);
    m_button->setImage(QStringLiteral(":/Orvex/res/btn_blue_hover.png"));
}

void QNetConfig::onleaveEvent()
{
    m_caption->setStyleSheet(black);
    m_button->setImage(QStringLiteral(":/Orvex/res/btn_nor.png"));
}
