#include "ShengJiUi.h"

#include "DeviceIdentity.h"
#include "platform/DialogPresenter.h"
#include "shell/CameraFields.h"
#include "shell/FramelessWindow.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

const QString white = QStringLiteral("color:rgb(255, 255, 255);");

/* What the operator is told when an upgrade does not happen or does not finish. */
QString failureText(FirmwareUpgrade::Failure failure)
{
    switch (failure) {
    case FirmwareUpgrade::Failure::Undecryptable:
        return ShengJiUi::tr("固件文件解密失败！");
    case FirmwareUpgrade::Failure::NoLink:
        return ShengJiUi::tr("相机未连接！");
    case FirmwareUpgrade::Failure::Refused:
        return ShengJiUi::tr("升级失败：无法开始升级");
    case FirmwareUpgrade::Failure::Stalled:
        return ShengJiUi::tr("升级失败：设备长时间无响应");
    case FirmwareUpgrade::Failure::ReadError:
        return ShengJiUi::tr("升级失败：读取固件文件出错");
    case FirmwareUpgrade::Failure::Unreadable:
    case FirmwareUpgrade::Failure::None:
        break;
    }
    return ShengJiUi::tr("固件文件无法读取！");
}

} // namespace

ShengjiTitlebar::ShengjiTitlebar(QWidget *parent) : QWidget(parent)
{
    setFixedSize(parent->width(), 30);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/title_bk.png"));
    m_title = new QLabel(tr("正在升级固件，请勿退出"), this);
    m_title->setGeometry(12, 0, width() - 24, 30);
    m_title->setFont(QFont(QStringLiteral("微软雅黑"), 10));
    m_title->setStyleSheet(white);
}

QString ShengjiTitlebar::title() const
{
    return m_title->text();
}

void ShengjiTitlebar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        FramelessWindow::startDrag(this);
    event->ignore();
}

ShengJiUi *ShengJiUi::startUpgrade(const QString &chosen, const FirmwareUpgrade::Options &options,
                                   const std::function<void()> &beforeOpening)
{
    Orvex *window = Orvex::instance();
    DialogPresenter *presenter = DialogPresenter::instance();
    QNetConfig *net = QNetConfig::instance();
    if (window->cameraConnected != 1 || !net->cameraHandle()) {
        presenter->warn(window, tr("相机未连接！"), QString());
        return nullptr;
    }
    bool decrypt = false;
    if (FirmwareUpgrade::inspect(chosen) == FirmwareUpgrade::FileKind::Encrypted) {
        if (!presenter->ask(window, tr("您选的文件是加密文件，是否解密并继续升级？")))
            return nullptr;
        decrypt = true;
    }
    /* Checked (and decrypted) before anything goes to the camera. */
    const FirmwareUpgrade::Firmware firmware = FirmwareUpgrade::prepare(chosen, decrypt);
    if (firmware.path.isEmpty()) {
        qWarning("upgrade: %s", qPrintable(firmware.reason));
        presenter->warn(window, failureText(firmware.failure), QDir::toNativeSeparators(chosen));
        return nullptr;
    }

    auto *dialog = new ShengJiUi(window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    setUpgrading(true);
    dialog->m_engine->start(net->link(), net->upgrader(), firmware, options);
    if (beforeOpening)
        beforeOpening();
    dialog->setWindowModality(Qt::WindowModal);
    const QRect frame = window->geometry();
    dialog->move(frame.x() + frame.width() / 4, frame.y() + frame.height() / 4);
    window->upgradeDialog = dialog;
    connect(dialog, &QObject::destroyed, window, [window, dialog] {
        if (window->upgradeDialog == dialog)
            window->upgradeDialog = nullptr;
    });
    dialog->show();
    return dialog;
}

ShengJiUi::ShengJiUi(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(420, 240);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/bg_warningbox.png"));
    FramelessWindow::applyRoundedMask(this);
    const QFont font(QStringLiteral("微软雅黑"), 10);

    m_titleBar = new ShengjiTitlebar(this);
    m_progress = new QProgressBar(this);
    m_progress->setGeometry(40, 60, 340, 20);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_percentCaption = new QLabel(tr("已升级："), this);
    m_percentCaption->setGeometry(40, 92, 80, 22);
    m_percent = new QLabel(QStringLiteral("0%"), this);
    m_percent->setGeometry(120, 92, 80, 22);
    m_warning = new QLabel(tr("升级中请勿断开电源，保持软件与设备的连接状态！"), this);
    m_warning->setGeometry(20, 126, 380, 22);
    m_warning->setAlignment(Qt::AlignCenter);
    m_result = new QLabel(this);
    m_result->setGeometry(20, 160, 380, 22);
    m_result->setAlignment(Qt::AlignCenter);
    m_result->hide();
    for (QLabel *label : {m_percentCaption, m_percent, m_warning, m_result}) {
        label->setFont(font);
        label->setStyleSheet(white);
    }
    m_ok = new QPushButton(tr("确定"), this);
    m_ok->setGeometry(170, 196, 80, 28);
    m_ok->hide();
    connect(m_ok, &QPushButton::clicked, this, &QDialog::close);

    m_versionPoll = new QTimer(this);
    connect(m_versionPoll, &QTimer::timeout, this, &ShengJiUi::onVersionPoll);
    m_engine = new FirmwareUpgrade(this);
    connect(m_engine, &FirmwareUpgrade::progressChanged, this, &ShengJiUi::onProgress);
    connect(m_engine, &FirmwareUpgrade::finished, this, &ShengJiUi::onFinished);
    connect(m_engine, &FirmwareUpgrade::failed, this, &ShengJiUi::onFailed);
}

int ShengJiUi::progressValue() const
{
    return m_progress->value();
}

QString ShengJiUi::percentText() const
{
    return m_percent->text();
}

QString ShengJiUi::resultText() const
{
    return m_result->isHidden() ? QString() : m_result->text();
}

void ShengJiUi::reject()
{
    if (!m_engine->isActive())
        QDialog::reject();
}

void ShengJiUi::closeEvent(QCloseEvent *event)
{
    if (m_engine->isActive())
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void ShengJiUi::setUpgrading(bool upgrading)
{
    /* While the flag says "upgrade", the connection manager does not take the
     * camera's silence in the loader for a lost camera. */
    if (posfile_manager_t *manager = QNetConfig::instance()->posManager())
        CameraFields::store(manager->activity, upgrading ? POSFILE_ACTIVITY_UPGRADE : 0u);
}

void ShengJiUi::onProgress(int percent)
{
    m_progress->setValue(percent);
    m_percent->setText(QString::number(percent) + QLatin1Char('%'));
}

void ShengJiUi::onFinished()
{
    m_succeeded = true;
    /* The new firmware is asked for its version (and performs its self-check) afresh. */
    DeviceIdentity::forgetVersion(QNetConfig::instance()->cameraHandle());
    showResult(tr("升级成功"));
    setUpgrading(false);
    QNetConfig::instance()->resetLastSeenIndex();
    m_versionPoll->start(500);
    emit upgraded();
}

void ShengJiUi::onFailed(FirmwareUpgrade::Failure failure, const QString &reason)
{
    qWarning("upgrade: %s", qPrintable(reason));
    showResult(failureText(failure));
    setUpgrading(false);
    QNetConfig::instance()->resetLastSeenIndex();
}

void ShengJiUi::showResult(const QString &text)
{
    m_warning->hide();
    m_result->setText(text);
    m_result->show();
    m_ok->show();
}

void ShengJiUi::onVersionPoll()
{
    q7x_t *camera = QNetConfig::instance()->cameraHandle();
    if (!camera) {
        m_versionPoll->stop();
        return;
    }
    if (DeviceIdentity::read(camera).versionKnown())
        m_versionPoll->stop();
    else
        q7x_get_version(camera);
}
