/*
 * The POS download page: turns the camera's POS logs into tables, over the
 * link (the device source, run by PosSequencer) or from the camera's USB POS
 * volume (the USB source, written by UsbPosExport on its own thread). The
 * page reads its controls, drives the engines and shows what they report.
 */
#ifndef POS_DOWNLOADDATA_H
#define POS_DOWNLOADDATA_H

#include "PosSequencer.h"
#include "UsbPosExport.h"
#include "UsbPosFiles.h"

#include <QWidget>

class Mylabel;
class QCheckBox;
class QDeviceWatcher;
class QLabel;
class QProgressBar;
class QTableWidget;
class QTimer;

class DownloadData : public QWidget {
    Q_OBJECT

public:
    enum Source { DeviceSource = 0, UsbSource = 1 };

    static DownloadData *instance();
    ~DownloadData() override;

    posfile_manager_t *transferManager() const { return m_sequencer.manager(); }
    PosSequencer &sequencer() { return m_sequencer; }

    /* Look for the USB POS volume and set the source buttons (when the page is shown). */
    void refreshSources();
    /* Start listing the camera's slots (when the page is shown, and by the device button). */
    void startDeviceListing();
    /* Empty the list, the status line and the progress bar. */
    void clearTransferView();
    /* Per-lens option for the camera's POS record size (52: shown; otherwise hidden, off). */
    void showLensOption(int recordSize);
    bool lensOptionVisible() const;

    /* For tests and screenshots. */
    Source source() const { return m_source; }
    int buttonMode() const { return m_buttonMode; }
    QString usbDrive() const { return m_usbDrive; }
    QTableWidget *table() const { return m_table; }
    QString statusText() const;
    int progress() const;
    /* Tick the row's check box. */
    void setRowChecked(int row, bool checked);
    Mylabel *deviceButton() const { return m_deviceButton; }
    Mylabel *usbButton() const { return m_usbButton; }
    Mylabel *downloadButton() const { return m_downloadButton; }
    Mylabel *deleteButton() const { return m_deleteButton; }
    bool exporting() const { return m_export.isRunning(); }

public slots:
    void onClicked();
    void onClickleave();
    void onTimeout();
    void slotDeviceAdded(const QString &mountPath);
    void slotDeviceRemoved(const QString &mountPath);
    void onStateChanged(int state);

private:
    explicit DownloadData(QWidget *parent = nullptr);

    void setColumns(const QStringList &names, int defaultWidth);
    void addRow(const QStringList &cells);
    QList<int> checkedRows() const;
    void setControlsEnabled(bool enabled);
    void onDeviceButton();
    void onUsbButton();
    void onDownloadButton();
    void onDeleteButton();
    void startDeviceDownload();
    void startUsbExport();
    void onEntryListed(int row, const posfile_entry_t &entry);
    void onDownloadFailed(PosSequencer::Failure failure, const QString &detail, int row,
                          const QString &path);
    void onExportFinished(bool ok, const QString &message, const QStringList &written);
    void syncCameraFacts();
    QWidget *anchor() const;

    PosSequencer m_sequencer;
    UsbPosExport m_export;
    Source m_source = DeviceSource;
    int m_buttonMode = 3;
    bool m_usbPresent = false;
    QString m_usbDrive;
    QList<UsbPosFile> m_usbFiles;

    Mylabel *m_deviceButton;
    Mylabel *m_usbButton;
    Mylabel *m_downloadButton;
    Mylabel *m_deleteButton;
    QTableWidget *m_table;
    QCheckBox *m_lensOption;
    QLabel *m_lensNote;
    QProgressBar *m_progress;
    QLabel *m_status;
    QTimer *m_timer;
    QDeviceWatcher *m_watcher;
};

#endif
