#include "DownloadData.h"

#include "PosRules.h"
#include "platform/DialogPresenter.h"
#include "platform/QDeviceWatcher.h"
#include "platform/VolumeQuery.h"
#include "shell/CameraFields.h"
#include "shell/FramelessWindow.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>

namespace {

const QString saveFilter =
    QStringLiteral("pos文件 (*.xls |*.xls;*.Xls;*.XLS |All Files(*.*) |*.*||)");
const QString darkText = QStringLiteral("color: rgb(40, 40, 40);");

struct Pictures {
    const char *resting;
    const char *pressed;
};
const Pictures devicePictures{":/Orvex/res/btn_WIFI_nor.png", ":/Orvex/res/btn_WIFI_pre.png"};
const Pictures usbPictures{":/Orvex/res/btn_USB_nor.png", ":/Orvex/res/btn_USB_pre.png"};
const Pictures downloadPictures{":/Orvex/res/btn_download_nor.png",
                                ":/Orvex/res/btn_download_hover.png"};
const Pictures deletePictures{":/Orvex/res/btn_delete_nor.png", ":/Orvex/res/btn_delete_hover.png"};
const char *cancelPicture = ":/Orvex/res/quxiaoxiazai.png";

Mylabel *imageButton(QWidget *parent, const QRect &geometry, const char *picture)
{
    auto *button = new Mylabel(parent);
    button->setGeometry(geometry);
    button->setImage(QString::fromLatin1(picture));
    return button;
}

} // namespace

DownloadData *DownloadData::instance()
{
    static DownloadData *page = new DownloadData;
    return page;
}

DownloadData::DownloadData(QWidget *parent) : QWidget(parent)
{
    setFixedSize(606, 508);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/configtest_bk.png"));

    m_deviceButton = imageButton(this, QRect(30, 20, 120, 34), devicePictures.resting);
    m_usbButton = imageButton(this, QRect(165, 20, 120, 34), usbPictures.resting);
    m_downloadButton = imageButton(this, QRect(321, 458, 120, 34), downloadPictures.resting);
    m_deleteButton = imageButton(this, QRect(456, 458, 120, 34), deletePictures.resting);
    for (Mylabel *button : {m_deviceButton, m_usbButton, m_downloadButton, m_deleteButton}) {
        connect(button, &Mylabel::clicked, this, &DownloadData::onClicked);
        connect(button, &Mylabel::clickleave, this, &DownloadData::onClickleave);
    }

    m_lensOption = new QCheckBox(tr("下载同时生成独立的POS"), this);
    m_lensOption->setGeometry(310, 18, 270, 22);
    m_lensOption->setCheckable(true);
    m_lensOption->setChecked(true);
    m_lensOption->setTristate(false);
    m_lensOption->setStyleSheet(darkText);
    connect(m_lensOption, &QCheckBox::stateChanged, this, &DownloadData::onStateChanged);
    m_lensNote = new QLabel(tr("*独立POS即为五个相机各自的POS数据"), this);
    m_lensNote->setGeometry(310, 40, 280, 18);
    m_lensNote->setStyleSheet(QStringLiteral("color: rgb(110, 110, 110);"));
    m_lensOption->hide();
    m_lensNote->hide();

    m_table = new QTableWidget(0, 5, this);
    m_table->setGeometry(30, 70, 546, 330);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setShowGrid(false);
    m_table->verticalHeader()->hide();
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setColumns({tr("ID"), tr("时间"), tr("数量"), tr("下载次数"), tr("选择")}, 110);

    m_progress = new QProgressBar(this);
    m_progress->setGeometry(30, 410, 546, 16);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_status = new QLabel(this);
    m_status->setGeometry(30, 430, 546, 22);
    m_status->setStyleSheet(darkText);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &DownloadData::onTimeout);
    m_timer->start(500);

    m_watcher = new QDeviceWatcher(this);
    connect(m_watcher, &QDeviceWatcher::deviceAdded, this, &DownloadData::slotDeviceAdded);
    connect(m_watcher, &QDeviceWatcher::deviceRemoved, this, &DownloadData::slotDeviceRemoved);
    m_watcher->start();

    connect(&m_sequencer, &PosSequencer::entryListed, this, &DownloadData::onEntryListed);
    connect(&m_sequencer, &PosSequencer::progressChanged, this,
            [this](int percent, const QString &status) {
                m_progress->setValue(percent);
                m_status->setText(status);
            });
    connect(&m_sequencer, &PosSequencer::downloadFinished, this, [this] {
        m_downloadButton->setImage(QString::fromLatin1(downloadPictures.resting));
        m_status->setText(tr("下载成功！"));
        m_progress->setValue(100);
        setControlsEnabled(true);
    });
    connect(&m_sequencer, &PosSequencer::downloadCancelled, this, [this] {
        m_downloadButton->setImage(QString::fromLatin1(downloadPictures.resting));
        m_status->clear();
        m_progress->setValue(0);
        setControlsEnabled(true);
    });
    connect(&m_sequencer, &PosSequencer::downloadFailed, this, &DownloadData::onDownloadFailed);
    connect(&m_sequencer, &PosSequencer::deleteFinished, this, [this] {
        m_deleteButton->setImage(QString::fromLatin1(deletePictures.resting));
        m_table->setRowCount(0);
    });

    connect(&m_export, &UsbPosExport::progressChanged, this,
            [this](int percent, const QString &status) {
                m_progress->setValue(percent);
                m_status->setText(status);
            });
    connect(&m_export, &UsbPosExport::finished, this, &DownloadData::onExportFinished);

    QNetConfig *link = QNetConfig::instance();
    connect(link, &QNetConfig::posManagerChanged, this, [this, link](posfile_manager_t *manager) {
        m_sequencer.setLink(manager, link->cameraHandle());
    });
    connect(link, &QNetConfig::cameraConnected, this,
            [this, link] { m_sequencer.setLink(link->posManager(), link->cameraHandle()); });
    connect(link, &QNetConfig::cameraDisconnected, this, [this] {
        m_sequencer.setLink(nullptr, nullptr);
        clearTransferView();
        setControlsEnabled(true);
        m_downloadButton->setImage(QString::fromLatin1(downloadPictures.resting));
    });
    m_sequencer.setLink(link->posManager(), link->cameraHandle());

    Orvex *window = Orvex::instance();
    connect(window, &Orvex::pageShown, this, [this, window](int entry) {
        if (entry != Orvex::PosEntry)
            return;
        showLensOption(window->posRecordSize);
        refreshSources();
        if (window->connected)
            startDeviceListing();
    });
}

DownloadData::~DownloadData() = default;

QWidget *DownloadData::anchor() const
{
    return Orvex::instance();
}

void DownloadData::setColumns(const QStringList &names, int defaultWidth)
{
    m_table->clear();
    m_table->setRowCount(0);
    m_table->setColumnCount(static_cast<int>(names.size()));
    m_table->setHorizontalHeaderLabels(names);
    m_table->horizontalHeader()->setDefaultSectionSize(defaultWidth);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setSectionsClickable(false);
    /* The IDs are short: a narrow first column leaves the check boxes room to show. */
    m_table->setColumnWidth(0, 60);
    m_table->setColumnWidth(1, 157);
}

void DownloadData::addRow(const QStringList &cells)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    for (int column = 0; column < cells.size(); ++column) {
        auto *item = new QTableWidgetItem(cells[column]);
        item->setTextAlignment(Qt::AlignCenter);
        m_table->setItem(row, column, item);
    }
    /* The last column holds a check box in the middle of the cell. */
    auto *holder = new QWidget;
    auto *layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setAlignment(Qt::AlignCenter);
    layout->addWidget(new QCheckBox(holder));
    m_table->setCellWidget(row, m_table->columnCount() - 1, holder);
}

QList<int> DownloadData::checkedRows() const
{
    QList<int> rows;
    const int column = m_table->columnCount() - 1;
    for (int row = 0; row < m_table->rowCount(); ++row)
        if (QWidget *holder = m_table->cellWidget(row, column))
            if (auto *box = holder->findChild<QCheckBox *>(); box && box->isChecked())
                rows << row;
    return rows;
}

void DownloadData::setRowChecked(int row, bool checked)
{
    if (QWidget *holder = m_table->cellWidget(row, m_table->columnCount() - 1))
        if (auto *box = holder->findChild<QCheckBox *>())
            box->setChecked(checked);
}

QString DownloadData::statusText() const
{
    return m_status->text();
}

int DownloadData::progress() const
{
    return m_progress->value();
}

void DownloadData::setControlsEnabled(bool enabled)
{
    m_deviceButton->setEnabled(enabled && (m_buttonMode == 0 || m_buttonMode == 2));
    m_usbButton->setEnabled(enabled && (m_buttonMode == 0 || m_buttonMode == 1));
    m_deleteButton->setEnabled(enabled);
}

void DownloadData::refreshSources()
{
    const QList<Volume> volumes = VolumeQuery::mountedVolumes();
    const std::optional<Volume> usb =
        VolumeQuery::findByLabel(volumes, usbPosLabel, Qt::CaseSensitive);
    m_usbPresent = usb.has_value();
    m_usbDrive = usb ? usb->mountPath : QString();
    const bool connected = Orvex::instance()->connected;
    m_buttonMode = m_usbPresent ? (connected ? 0 : 1) : (connected ? 2 : 3);
    m_deviceButton->setImage(
        QString::fromLatin1(connected ? devicePictures.pressed : devicePictures.resting));
    m_usbButton->setImage(
        QString::fromLatin1(m_usbPresent ? usbPictures.pressed : usbPictures.resting));
    const bool idle = !m_sequencer.busy() && !m_export.isRunning();
    setControlsEnabled(idle);
}

void DownloadData::slotDeviceAdded(const QString &)
{
    refreshSources();
}

void DownloadData::slotDeviceRemoved(const QString &)
{
    refreshSources();
}

void DownloadData::syncCameraFacts()
{
    Orvex *window = Orvex::instance();
    m_sequencer.setRecordSize(window->posRecordSize);
    m_sequencer.setFirmware(window->firmwareVersion.toDouble());
}

void DownloadData::startDeviceListing()
{
    m_timer->start(500);
    setColumns({tr("ID"), tr("时间"), tr("数量"), tr("下载次数"), tr("选择")}, 110);
    m_status->clear();
    m_progress->setValue(0);
    syncCameraFacts();
    if (!m_sequencer.busy())
        m_sequencer.startListing();
}

void DownloadData::clearTransferView()
{
    m_table->setRowCount(0);
    m_status->clear();
    m_progress->setValue(0);
}

void DownloadData::showLensOption(int recordSize)
{
    const bool shown = recordSize == 52;
    m_lensOption->setVisible(shown);
    m_lensNote->setVisible(shown);
    if (posfile_manager_t *manager = m_sequencer.manager())
        CameraFields::store(manager->lens_mode, shown && m_lensOption->isChecked() ? 1u : 0u);
}

bool DownloadData::lensOptionVisible() const
{
    return !m_lensOption->isHidden();
}

void DownloadData::onStateChanged(int state)
{
    if (posfile_manager_t *manager = m_sequencer.manager())
        CameraFields::store(manager->lens_mode, state == 0 ? 0u : 1u);
}

void DownloadData::onTimeout()
{
    syncCameraFacts();
    m_sequencer.tick();
}

void DownloadData::onEntryListed(int row, const posfile_entry_t &entry)
{
    Q_UNUSED(row);
    const int recordSize = Orvex::instance()->posRecordSize;
    const uint32_t size = entry.end_address - entry.start_address;
    addRow({QString::number(m_table->rowCount() + 1), PosRules::listTimeText(entry.start_time),
            recordSize == 32 || recordSize == 52 ? QString::number(size / recordSize) : QString(),
            QString::number(entry.download_count)});
}

void DownloadData::onClicked()
{
    QObject *source = sender();
    if (source == m_deviceButton)
        onDeviceButton();
    else if (source == m_usbButton)
        onUsbButton();
    else if (source == m_downloadButton)
        onDownloadButton();
    else if (source == m_deleteButton)
        onDeleteButton();
}

void DownloadData::onClickleave()
{
    QObject *source = sender();
    if (source == m_deleteButton && !m_sequencer.isDeleting())
        m_deleteButton->setImage(QString::fromLatin1(deletePictures.resting));
    else if (source == m_downloadButton && !m_sequencer.isDownloading())
        m_downloadButton->setImage(QString::fromLatin1(downloadPictures.resting));
}

void DownloadData::onDeviceButton()
{
    m_source = DeviceSource;
    m_deviceButton->setImage(QString::fromLatin1(devicePictures.pressed));
    if (m_usbPresent)
        m_usbButton->setImage(QString::fromLatin1(usbPictures.pressed));
    startDeviceListing();
}

void DownloadData::onUsbButton()
{
    if (Orvex::instance()->connected)
        m_deviceButton->setImage(QString::fromLatin1(devicePictures.pressed));
    m_timer->stop();
    m_usbFiles.clear();
    setColumns({tr("ID"), tr("时间"), tr("数量"), tr("选择")}, 150);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    if (!m_usbPresent)
        return;
    m_usbButton->setImage(QString::fromLatin1(usbPictures.pressed));
    const int recordSize = PosRules::recordSizeForSerial(Orvex::instance()->serialNumber);
    if (Orvex::instance()->serialNumber.isEmpty() || recordSize == 0) {
        DialogPresenter::instance()->warn(anchor(), tr("需要首先获取相机SN号！"), QString());
        return;
    }
    const UsbPosListing listing = UsbPosFiles::list(m_usbDrive, recordSize);
    m_usbFiles = listing.files;
    for (const UsbPosFile &file : listing.files) {
        QString count = QString::number(file.records);
        if (file.trailingBytes)
            count += tr(" (末尾%1字节不完整)").arg(file.trailingBytes);
        addRow({QString::number(file.id), file.timeText, count});
    }
    m_source = UsbSource;
    if (!listing.problems.isEmpty())
        DialogPresenter::instance()->warn(anchor(), tr("读取文件出错"),
                                          listing.problems.join(QLatin1Char('\n')));
}

void DownloadData::onDownloadButton()
{
    if (Orvex::instance()->cameraConnected == 0) {
        DialogPresenter::instance()->warn(anchor(), tr("相机未连接！"), QString());
        return;
    }
    if (m_source == UsbSource)
        startUsbExport();
    else
        startDeviceDownload();
}

void DownloadData::startDeviceDownload()
{
    if (m_sequencer.isDownloading()) {
        m_sequencer.cancelDownload();
        return;
    }
    /* The list must be complete: the rows' IDs are the slots' places in it. */
    if (m_sequencer.isListing() || m_sequencer.isDeleting() || m_sequencer.deviceList().isEmpty())
        return;
    m_downloadButton->setImage(QString::fromLatin1(downloadPictures.pressed));
    const QList<int> rows = checkedRows();
    if (rows.isEmpty())
        return;
    const posfile_entry_t first = m_sequencer.deviceList().value(rows.first());
    const QString path = DialogPresenter::instance()->askSaveFile(
        this, tr("保存为"), PosRules::defaultName(PosRules::digitsTimeText(first.start_time)),
        saveFilter);
    if (path.isEmpty()) {
        m_downloadButton->setImage(QString::fromLatin1(downloadPictures.resting));
        return;
    }
    syncCameraFacts();
    QString error;
    if (!m_sequencer.startDownload(
            rows, path, m_lensOption->isVisible() && m_lensOption->isChecked(), &error)) {
        m_downloadButton->setImage(QString::fromLatin1(downloadPictures.resting));
        DialogPresenter::instance()->warn(anchor(), tr("无法开始下载"), error);
        return;
    }
    /* A download keeps the camera busy: give the link check a fresh five seconds. */
    QNetConfig::instance()->resetLastSeenIndex();
    m_downloadButton->setImage(QString::fromLatin1(cancelPicture));
    setControlsEnabled(false);
}

void DownloadData::onDownloadFailed(PosSequencer::Failure failure, const QString &detail, int row,
                                    const QString &path)
{
    const QString reason = PosSequencer::failureText(failure, detail);
    m_downloadButton->setImage(QString::fromLatin1(downloadPictures.resting));
    m_status->setText(reason);
    m_progress->setValue(0);
    setControlsEnabled(true);
    DialogPresenter::instance()->warn(anchor(), reason,
                                      tr("第%1个文件未保存：%2").arg(row + 1).arg(path));
}

void DownloadData::startUsbExport()
{
    if (m_export.isRunning() || m_usbFiles.isEmpty())
        return;
    m_downloadButton->setImage(QString::fromLatin1(downloadPictures.pressed));
    const QList<int> rows = checkedRows();
    if (rows.isEmpty())
        return;
    const QString path = DialogPresenter::instance()->askSaveFile(
        this, tr("保存为"), PosRules::defaultName(m_usbFiles.value(rows.first()).digits),
        saveFilter);
    m_downloadButton->setImage(QString::fromLatin1(downloadPictures.resting));
    if (path.isEmpty())
        return;
    const QString folder = QFileInfo(path).absolutePath();
    QList<UsbExportJob> jobs;
    for (int k = 0; k < rows.size(); ++k) {
        const UsbPosFile &file = m_usbFiles[rows[k]];
        jobs << UsbExportJob{
            file.path, folder + QLatin1Char('/') +
                           PosRules::usbTableName(file.digits, static_cast<int>(rows.size()), k)};
    }
    const int recordSize = PosRules::recordSizeForSerial(Orvex::instance()->serialNumber);
    const bool perLens = m_lensOption->isVisible() && m_lensOption->isChecked();
    if (m_export.start(jobs, recordSize, perLens))
        setControlsEnabled(false);
}

void DownloadData::onExportFinished(bool ok, const QString &message, const QStringList &)
{
    setControlsEnabled(true);
    if (!ok) {
        m_progress->setValue(0);
        m_status->clear();
        DialogPresenter::instance()->warn(anchor(), tr("导出失败"), message);
    }
}

void DownloadData::onDeleteButton()
{
    if (m_source != DeviceSource || m_sequencer.busy() || m_sequencer.deviceList().isEmpty())
        return;
    m_deleteButton->setImage(QString::fromLatin1(deletePictures.pressed));
    const QList<int> rows = checkedRows();
    if (rows.isEmpty())
        return;
    if (m_sequencer.startDelete(rows))
        m_table->setRowCount(0);
}
