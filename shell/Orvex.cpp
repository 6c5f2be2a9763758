#include "Orvex.h"

#include "AirSerial.h"
#include "CameraFields.h"
#include "FramelessWindow.h"
#include "Mylabel.h"
#include "QNetConfig.h"
#include "TitleBar.h"

#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

namespace {

struct EntryImages {
    const char *normal;
    const char *selected;
};

const EntryImages entryImages[6] = {
    {":/Orvex/res/deviceInfo_normal.png", ":/Orvex/res/deviceInfo_selected.png"},
    {":/Orvex/res/configTest_normal.png", ":/Orvex/res/configTest_selected.png"},
    {":/Orvex/res/collectAssistant_normal.png", ":/Orvex/res/collectAssistant_selected.png"},
    {":/Orvex/res/posnor.png", ":/Orvex/res/possele.png"},
    {":/Orvex/res/yingxiangnor.png", ":/Orvex/res/yingxiangsele.png"},
    {":/Orvex/res/yingxiangqingkongnor.png", ":/Orvex/res/yingxiangqingkongselect.png"},
};

const QString whiteText = QStringLiteral("color:rgb(255, 255, 255);");

QLabel *statusLabel(QWidget *parent, const QRect &geometry)
{
    auto *label = new QLabel(parent);
    label->setGeometry(geometry);
    label->setStyleSheet(whiteText);
    label->setFont(QFont(QStringLiteral("微软雅黑"), 9));
    return label;
}

QLabel *iconLabel(QWidget *parent, const QRect &geometry, const char *image)
{
    auto *label = new QLabel(parent);
    label->setGeometry(geometry);
    label->setScaledContents(true);
    label->setPixmap(QPixmap(QString::fromLatin1(image)));
    return label;
}

const char *cameraImage(StatusDisplay::Icon icon, bool yellow)
{
    if (icon == StatusDisplay::Centre)
        return yellow ? ":/Orvex/res/largeCamera_yellow.png" : ":/Orvex/res/largeCamera_white.png";
    return yellow ? ":/Orvex/res/smallCamera_yellow.png" : ":/Orvex/res/smallCamera_white.png";
}

} // namespace

Orvex *Orvex::instance()
{
    static Orvex *window = new Orvex;
    return window;
}

Orvex::Orvex(QWidget *parent) : QWidget(parent)
{
    setFixedSize(760, 540);
    setObjectName(QStringLiteral("OrvexClass"));
    setWindowTitle(QStringLiteral("Orvex"));
    buildStatusPanel();

    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    FramelessWindow::applyRoundedMask(this);
    m_titleBar = new TitleBar(this);
    m_titleBar->move(0, 0);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/frame_bk1.png"));

    for (int entry = 0; entry < 6; ++entry) {
        auto *label = new Mylabel(this);
        label->setGeometry(0, 32 + 36 * entry, 154, 36);
        label->setImage(QString::fromLatin1(entry == 0 ? entryImages[entry].selected
                                                       : entryImages[entry].normal));
        connect(label, &Mylabel::clicked, this, &Orvex::onClicked);
        connect(label, qOverload<>(&Mylabel::enterEvent), this, &Orvex::onenterEvent1);
        connect(label, qOverload<>(&Mylabel::leaveEvent), this, &Orvex::onleaveEvent1);
        m_entries[static_cast<size_t>(entry)] = label;
    }

    m_stack = new QStackedWidget(this);
    m_stack->setGeometry(154, 32, 606, 508);
    /* The pages draw on a plain panel, not over the window's picture. */
    QPalette pagePalette = m_stack->palette();
    pagePalette.setColor(QPalette::Window, QColor(43, 45, 48));
    m_stack->setPalette(pagePalette);
    m_stack->setAutoFillBackground(true);
    m_stack->hide();

    auto *version = new QLabel(QStringLiteral("ZezizoreVadurezed V1.3.3"), this);
    version->setFont(QFont(QStringLiteral("微软雅黑"), 10));
    version->setStyleSheet(whiteText);
    version->setGeometry(256, 250, 200, 20); // wide enough for the whole text in the CJK font
    version->lower();

    m_linkButton = new Mylabel(this);
    m_linkButton->setGeometry(0, 499, 154, 42);
    m_linkButton->setImage(QStringLiteral(":/Orvex/res/new duan.png"));
    connect(m_linkButton, &Mylabel::clicked, this, &Orvex::onClicked);
    connect(m_linkButton, qOverload<>(&Mylabel::enterEvent), this, &Orvex::onenterEvent);
    connect(m_linkButton, qOverload<>(&Mylabel::leaveEvent), this, &Orvex::onleaveEvent);

    setStatusVisible(false);
    m_entries[ConfigTestEntry]->setEnabled(false);

    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, &Orvex::onTimeout);
    m_statusTimer->start(500);

    /* The connection manager's changes, in the order the pages' own listeners expect them. */
    QNetConfig *net = QNetConfig::instance();
    connect(net, &QNetConfig::networkJoined, this, [this] {
        onConnected();
        setAllCamerasWhite();
    });
    connect(net, &QNetConfig::linkUp, this, [this] {
        linkKind = 2;
        connected = true;
        cameraConnected = 1;
    });
    connect(net, &QNetConfig::linkDown, this, [this] {
        cameraConnected = 0;
        onDisconnected();
        linkKind = 0;
        connected = false;
    });
}

void Orvex::buildStatusPanel()
{
    m_statusPanel = new QWidget(this);
    m_statusPanel->setGeometry(0, 172, 154, 367);
    FramelessWindow::setBackground(m_statusPanel, QStringLiteral(":/Orvex/res/leftitems_bk.png"));

    using StatusDisplay::Icon;
    const QRect iconGeometry[StatusDisplay::IconCount] = {{61, 80, 25, 20},
                                                          {100, 110, 25, 20},
                                                          {61, 142, 25, 20},
                                                          {20, 110, 25, 20},
                                                          {58, 108, 31, 24}};
    for (int icon = 0; icon < StatusDisplay::IconCount; ++icon)
        m_cameraIcons[static_cast<size_t>(icon)] =
            iconLabel(m_statusPanel, iconGeometry[icon], cameraImage(Icon(icon), false));

    m_faultText = statusLabel(m_statusPanel, {10, 180, 141, 41});
    m_faultText->setWordWrap(true);
    m_dataServiceButton = new QPushButton(tr("数据服务"), m_statusPanel);
    m_dataServiceButton->setGeometry(40, 210, 75, 23);
    /* The photo tool needs no camera: the button opens it whether connected or not. */
    connect(m_dataServiceButton, &QPushButton::clicked, this, [this] {
        selectEntry(-1);
        m_stack->show();
        m_stack->setCurrentIndex(PhotoToolPage);
        emit pageShown(PhotoToolPage);
    });
    m_gpsText = statusLabel(m_statusPanel, {40, 230, 81, 21});
    m_strategyCaption = statusLabel(m_statusPanel, {25, 271, 60, 17});
    m_strategyCaption->setText(tr("当前策略："));
    m_strategyValue = statusLabel(m_statusPanel, {91, 271, 61, 17});
    m_photoIcon = iconLabel(m_statusPanel, {20, 310, 21, 21}, ":/Orvex/res/pictures.png");
    m_photoCount = statusLabel(m_statusPanel, {50, 310, 31, 21});
    m_satelliteIcon = iconLabel(m_statusPanel, {90, 310, 21, 21}, ":/Orvex/res/sats.png");
    m_satelliteCount = statusLabel(m_statusPanel, {120, 310, 21, 21});
}

void Orvex::setStatusVisible(bool visible)
{
    for (QWidget *widget : std::initializer_list<QWidget *>{
             m_strategyCaption, m_strategyValue, m_photoCount, m_photoIcon, m_satelliteCount,
             m_satelliteIcon, m_gpsText, m_faultText})
        widget->setVisible(visible);
    for (QLabel *icon : m_cameraIcons)
        icon->setVisible(visible);
}

void Orvex::setCameraIcon(StatusDisplay::Icon icon, bool yellow)
{
    m_cameraYellow[static_cast<size_t>(icon)] = yellow;
    m_cameraIcons[static_cast<size_t>(icon)]->setPixmap(
        QPixmap(QString::fromLatin1(cameraImage(icon, yellow))));
}

void Orvex::setAllCamerasWhite()
{
    for (int icon = 0; icon < StatusDisplay::IconCount; ++icon)
        setCameraIcon(StatusDisplay::Icon(icon), false);
}

void Orvex::selectEntry(int entry)
{
    for (int other = 0; other < 6; ++other)
        m_entries[static_cast<size_t>(other)]->setImage(QString::fromLatin1(
            other == entry ? entryImages[other].selected : entryImages[other].normal));
}

void Orvex::setPages(const QList<QWidget *> &pages)
{
    for (QWidget *page : pages)
        m_stack->addWidget(page);
}

void Orvex::onConnected()
{
    setStatusVisible(true);
    m_entries[ConfigTestEntry]->setEnabled(true);
    m_entries[PosEntry]->setEnabled(true);
    selectEntry(DeviceInfoEntry);
    m_stack->show();
    m_stack->setCurrentIndex(0);
    m_linkButton->setImage(QStringLiteral(":/Orvex/res/wifi.png"));
    emit connectionChanged(true);
}

void Orvex::onDisconnected()
{
    setStatusVisible(false);
    m_entries[ConfigTestEntry]->setEnabled(false);
    selectEntry(DeviceInfoEntry);
    m_stack->show();
    m_stack->setCurrentIndex(0);
    m_linkButton->setImage(QStringLiteral(":/Orvex/res/new duan.png"));
    emit connectionChanged(false);
}

void Orvex::onClicked()
{
    if (!isVisible())
        return;
    QObject *source = sender();
    q7x_t *camera = QNetConfig::instance()->cameraHandle();

    if (source == m_linkButton) {
        AirSerial *window = AirSerial::instance();
        FramelessWindow::placeAtThird(window, this);
        window->setModal(true);
        window->show();
        return;
    }

    int entry = -1;
    for (int i = 0; i < 6; ++i)
        if (source == m_entries[static_cast<size_t>(i)])
            entry = i;
    if (entry < 0)
        return;
    selectEntry(entry);
    m_stack->show();
    m_stack->setCurrentIndex(entry);

    switch (entry) {
    case DeviceInfoEntry:
        if (connected && camera)
            q7x_change_work_mode(camera, 1);
        break;
    case ConfigTestEntry:
        if (camera)
            q7x_change_work_mode(camera, 0);
        break;
    case AssistantEntry:
        if (camera)
            q7x_change_work_mode(camera, 1);
        break;
    case PosEntry:
        if (camera)
            q7x_change_work_mode(camera, 0);
        break;
    default:
        break;
    }
    emit pageShown(entry);
}

void Orvex::onenterEvent()
{
    m_linkButton->setImage(linkKind == 2 && connected
                               ? QStringLiteral(":/Orvex/res/wifi-xuan.png")
                               : QStringLiteral(":/Orvex/res/net duan xuan.png"));
}

void Orvex::onleaveEvent()
{
    m_linkButton->setImage(linkKind == 2 && connected ? QStringLiteral(":/Orvex/res/wifi.png")
                                                      : QStringLiteral(":/Orvex/res/new duan.png"));
}

void Orvex::onenterEvent1() {}

void Orvex::onleaveEvent1() {}

void Orvex::onTimeout()
{
    q7x_t *camera = QNetConfig::instance()->cameraHandle();
    if (!camera)
        return;
    using CameraFields::load;

    const StatusDisplay::Strategy strategy =
        StatusDisplay::strategy(q7x_get_mode(camera), q7x_get_fixtime(camera),
                                load(camera->reported_param.distance_interval));
    m_strategyCaption->setText(strategy.caption);
    m_strategyValue->setText(strategy.value);

    const int major = load(camera->version_major);
    const int minor = load(camera->version_minor);
    const StatusDisplay::Cameras cameras =
        StatusDisplay::cameras(major, minor, load(camera->fault_mask), load(camera->self_check));
    if (cameras.changed)
        for (int icon = 0; icon < StatusDisplay::IconCount; ++icon)
            setCameraIcon(StatusDisplay::Icon(icon), cameras.yellow[static_cast<size_t>(icon)]);

    m_photoCount->setText(QString::number(load(camera->total_exposures)));
    const uint32_t satellites = load(camera->satellites);
    m_satelliteCount->setText(QString::number(satellites));

    emit statusRefreshed(camera);

    if (const auto gps =
            StatusDisplay::gpsText(QNetConfig::instance()->gpsFix(), static_cast<int>(satellites)))
        m_gpsText->setText(*gps);
    m_faultText->setText(cameras.faultText);
}

QString Orvex::strategyCaption() const
{
    return m_strategyCaption->text();
}

QString Orvex::strategyValue() const
{
    return m_strategyValue->text();
}

QString Orvex::faultText() const
{
    return m_faultText->text();
}

QString Orvex::gpsText() const
{
    return m_gpsText->text();
}

QString Orvex::photoCount() const
{
    return m_photoCount->text();
}

QString Orvex::satelliteCount() const
{
    return m_satelliteCount->text();
}

bool Orvex::cameraIconYellow(StatusDisplay::Icon icon) const
{
    return m_cameraYellow[static_cast<size_t>(icon)];
}

bool Orvex::statusVisible() const
{
    return !m_faultText->isHidden();
}

QWidget *Orvex::currentPageWidget() const
{
    return m_stack->currentWidget();
}

int Orvex::currentPage() const
{
    return m_stack->currentIndex();
}

bool Orvex::pageStackVisible() const
{
    return !m_stack->isHidden();
}

QString Orvex::navigationImage(int entry) const
{
    return m_entries[static_cast<size_t>(entry)]->image();
}

QString Orvex::linkButtonImage() const
{
    return m_linkButton->image();
}
