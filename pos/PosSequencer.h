/*
 * The POS download sequencer: lists the camera's POS file slots, downloads
 * the chosen files into tables one after another and deletes slots, on the
 * link's POS transfer manager. It has no timer of its own: the owner calls
 * tick() (the POS page every 500 ms, orvex-cli faster), and every step is
 * one tick's worth of work, so the caller's thread never blocks.
 *
 * Tables are written under a temporary name beside the final one and renamed
 * when the file is complete; a download that fails, stalls or is cancelled
 * leaves nothing under the final names.
 */
#ifndef POS_POSSEQUENCER_H
#define POS_POSSEQUENCER_H

#include "PosRules.h"
#include "tavrin/tavrin.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <cstdio>

class PosSequencer : public QObject {
    Q_OBJECT

public:
    /* Slots 1 to 14; one that never answers is skipped after this many failed steps. */
    static constexpr int maxListFailures = 100;
    /* A download that receives nothing for this long has stalled. */
    static constexpr int defaultStallMs = 30000;

    /* Why a download ended without its tables. */
    enum class Failure {
        Timeout, /* nothing received for the stall time-out */
        Short,   /* the camera ended the file before all its records came */
        Other    /* a table could not be created or renamed: `detail` says why */
    };
    Q_ENUM(Failure)

    /* The page's words for a failure. */
    static QString failureText(Failure failure, const QString &detail);

    explicit PosSequencer(QObject *parent = nullptr);
    ~PosSequencer() override;

    /*
     * The link's transfer manager and camera handle (either may be null: not
     * connected). Whatever runs is abandoned when the manager changes.
     */
    void setLink(posfile_manager_t *manager, q7x_t *camera);
    posfile_manager_t *manager() const { return m_manager; }
    /* 32 or 52 from the serial number; 0 while unknown. */
    void setRecordSize(int size) { m_recordSize = size; }
    int recordSize() const { return m_recordSize; }
    /* The camera's firmware as a decimal number (4.41), which picks the protocol. */
    void setFirmware(double version) { m_firmware = version; }
    void setStallTimeout(int milliseconds) { m_stallMs = milliseconds; }

    /* Listing: slots 1 to 14 from the start; the rows come by entryListed. */
    void startListing();
    bool isListing() const { return m_listing; }
    const QList<posfile_entry_t> &deviceList() const { return m_deviceList; }

    /*
     * Download the rows (indices into the device list) into tables named from
     * `savePath` (PosRules::downloadPath); with `perLens` and 52-byte records
     * the five lens tables too. False, with `error` set, when it cannot start.
     */
    bool startDownload(const QList<int> &rows, const QString &savePath, bool perLens,
                       QString *error = nullptr);
    /* Stop the download; the camera is told at the next tick. */
    void cancelDownload();
    bool isDownloading() const { return m_downloading; }

    /* Delete the rows' slots, one a tick, then list again. */
    bool startDelete(const QList<int> &rows);
    bool isDeleting() const { return m_deleting; }

    bool busy() const { return m_listing || m_downloading || m_deleting || m_cancelPending; }

    /* One step of whatever runs. */
    void tick();

signals:
    void entryListed(int row, const posfile_entry_t &entry);
    void listingFinished(int count);
    void downloadStarted();
    /* Percent of the current file (0-100) and the status line. */
    void progressChanged(int percent, const QString &status);
    /* One table (and its lens tables) complete under its final name. */
    void fileDownloaded(int row, const QString &path, int records);
    void downloadFinished();
    /* The download ended without its tables: `row` and `path` name the file. */
    void downloadFailed(PosSequencer::Failure failure, const QString &detail, int row,
                        const QString &path);
    void downloadCancelled();
    void slotDeleted(int fileNumber);
    void deleteFinished();

private:
    struct Current {
        int row = -1;
        uint8_t number = 0;
        uint32_t size = 0;
        QString path;
        QString tempPath;
        QStringList lensPaths;
        QStringList lensTemps;
        bool acknowledged = false;
        uint32_t lastReceived = 0;
        QElapsedTimer sinceChange;
    };

    void listStep();
    void deleteStep();
    void downloadStep();
    bool startFile(QString *error);
    bool openLensTables(QString *error);
    void closeTables();
    void discardTables();
    void finishFile();
    void failDownload(Failure failure, const QString &detail = QString());
    void clearCameraValid();
    bool cameraValid() const;
    uint32_t received();
    void reportProgress(uint32_t received);

    posfile_manager_t *m_manager = nullptr;
    q7x_t *m_camera = nullptr;
    int m_recordSize = 0;
    double m_firmware = 0;
    int m_stallMs = defaultStallMs;

    bool m_listing = false;
    int m_listSlot = 1;
    int m_failures = 0;
    QList<posfile_entry_t> m_deviceList;

    bool m_downloading = false;
    bool m_cancelPending = false;
    bool m_perLens = false;
    QList<int> m_selection;
    int m_cursor = 0;
    QString m_savePath;
    Current m_current;
    std::array<FILE *, 5> m_lensFiles{};

    bool m_deleting = false;
    QList<uint8_t> m_deleteNumbers;
    int m_deleteCursor = 0;
};

#endif
