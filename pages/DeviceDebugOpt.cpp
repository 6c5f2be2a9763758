#include "DeviceDebugOpt.h"

#include "shell/Mylabel.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

#include <QLabel>
#include <QPointer>

namespace {

const QString darkText = QStringLiteral("color: rgb(40, 40, 40);");
const QString workingBox = QStringLiteral(":/Orvex/res/normal.png");
const QString faultyBox = QStringLiteral(":/Orvex/res/wenti.png");
const QString workingDot = QStringLiteral(":/Orvex/res/round_normal.png");
const QString faultyDot = QStringLiteral(":/Orvex/res/round_error.png");
const QString shutterResting = QStringLiteral(":/Orvex/res/photograph_normal.png");
const QString shutterPressed = QStringLiteral(":/Orvex/res/photograph_click.png");

QLabel *textLabel(QWidget *parent, const QString &text, const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(geometry);
    label->setStyleSheet(darkText);
    return label;
}

Mylabel *picture(QWidget *parent, const QString &image, const QRect &geometry)
{
    auto *label = new Mylabel(parent);
    label->setGeometry(geometry);
    label->setImage(image);
    return label;
}

} // namespace

DeviceDebugOpt *DeviceDebugOpt::instance()
{
    /* Made again should its parent page have taken it along when it went. */
    static QPointer<DeviceDebugOpt> page;
    if (!page)
        page = new DeviceDebugOpt;
    return page;
}

DeviceDebugOpt::DeviceDebugOpt(QWidget *parent) : QWidget(parent)
{
    /* The tab's stack is taller than the figures' 373 px: the caption under the shutter button
     * stands below them. */
    resize(584, 415);
    picture(this, QStringLiteral(":/Orvex/res/icon111.png"), QRect(6, 26, 571, 381));

    const QString captions[CameraCounts::cameraCount] = {
        tr("一号相机(前)：触发次数"), tr("二号相机(右)：触发次数"), tr("三号相机(后)：触发次数"),
        tr("四号相机(左)：触发次数"), tr("五号相机(中)：触发次数")};
    for (int i = 0; i < CameraCounts::cameraCount; ++i) {
        const int y = 80 + 40 * i;
        Row &row = m_rows[static_cast<size_t>(i)];
        textLabel(this, captions[i], QRect(65, y, 141, 16));
        picture(this, workingBox, QRect(230, y, 74, 24));
        row.trigger = textLabel(this, QString(), QRect(235, y, 61, 21));
        textLabel(this, tr("拍照数量"), QRect(330, y, 61, 16));
        row.box = picture(this, workingBox, QRect(405, y, 74, 24));
        row.photos = textLabel(this, QString(), QRect(410, y, 61, 21));
        row.dot = picture(this, workingDot, QRect(500, y + 1, 16, 16));
    }

    m_shutter = picture(this, shutterResting, QRect(270, 330, 47, 46));
    connect(m_shutter, &Mylabel::clicked, this, &DeviceDebugOpt::onClicked);
    connect(m_shutter, &Mylabel::clickleave, this, &DeviceDebugOpt::onClickleave);
    textLabel(this, tr("点击进行拍照测试"), QRect(238, 380, 108, 20));

    connect(Orvex::instance(), &Orvex::statusRefreshed, this, &DeviceDebugOpt::refresh);
}

void DeviceDebugOpt::onClicked()
{
    m_shutter->setImage(shutterPressed);
    /* A refusal (a Q7X camera outside debug mode) shows in the counts that stay put. */
    if (q7x_t *camera = QNetConfig::instance()->cameraHandle())
        q7x_shutter(camera);
}

void DeviceDebugOpt::onClickleave()
{
    m_shutter->setImage(shutterResting);
}

void DeviceDebugOpt::refresh(q7x_t *camera)
{
    if (!camera)
        return;
    const CameraCounts::Counts counts = CameraCounts::read(camera);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        Row &row = m_rows[i];
        row.trigger->setText(QString::number(counts.total));
        row.photos->setText(QString::number(counts.photos[i]));
        row.box->setImage(counts.working[i] ? workingBox : faultyBox);
        row.dot->setImage(counts.working[i] ? workingDot : faultyDot);
    }
}

QString DeviceDebugOpt::triggerText(int camera) const
{
    return m_rows.at(static_cast<size_t>(camera - 1)).trigger->text();
}

QString DeviceDebugOpt::photoText(int camera) const
{
    return m_rows.at(static_cast<size_t>(camera - 1)).photos->text();
}

QString DeviceDebugOpt::boxImage(int camera) const
{
    return m_rows.at(static_cast<size_t>(camera - 1)).box->image();
}

QString DeviceDebugOpt::dotImage(int camera) const
{
    return m_rows.at(static_cast<size_t>(camera - 1)).dot->image();
}
