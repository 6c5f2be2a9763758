#include "PosSequencer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

/* The transfer manager's and camera's plain fields, shared with the receive thread. */
template <typename T> T load(T &field)
{
    return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}
template <typename T, typename V> void store(T &field, V value)
{
    std::atomic_ref<T>(field).store(static_cast<T>(value), std::memory_order_relaxed);
}

QString temporaryName(const QString &path)
{
    return path + QStringLiteral(".part");
}

/* Replace `to` with `from` in one step (the final name never holds half a table). */
bool replaceFile(const QString &from, const QString &to, QString *error)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (error)
        *error = QStringLiteral("cannot rename %1 to %2: %3")
                     .arg(from, to, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

} // namespace

PosSequencer::PosSequencer(QObject *parent) : QObject(parent) {}

QString PosSequencer::failureText(Failure failure, const QString &detail)
{
    switch (failure) {
    case Failure::Timeout:
        return QStringLiteral("下载超时");
    case Failure::Short:
        return QStringLiteral("文件不完整");
    default:
        return detail;
    }
}

PosSequencer::~PosSequencer()
{
    if (m_downloading)
        discardTables();
}

void PosSequencer::setLink(posfile_manager_t *manager, q7x_t *camera)
{
    if (manager != m_manager) {
        if (m_downloading)
            discardTables();
        m_listing = m_downloading = m_deleting = m_cancelPending = false;
        m_deviceList.clear();
    }
    m_manager = manager;
    m_camera = camera;
}

bool PosSequencer::cameraValid() const
{
    return !m_camera || (load(m_camera->flags) & Q7X_FLAG_VALID);
}

void PosSequencer::clearCameraValid()
{
    if (m_camera)
        std::atomic_ref<uint32_t>(m_camera->flags)
            .fetch_and(~Q7X_FLAG_VALID, std::memory_order_relaxed);
}

void PosSequencer::startListing()
{
    m_listing = true;
    m_listSlot = 1;
    m_failures = 0;
    m_deviceList.clear();
    /* Through the library: the receive thread may be filling the table right now. */
    if (m_manager)
        posfile_info_clear(m_manager, 0);
}

void PosSequencer::tick()
{
    if (!m_manager)
        return;
    if (m_cancelPending) {
        posfile_file_cancelRequest(m_manager);
        m_cancelPending = false;
    }
    if (m_deleting)
        deleteStep();
    if (m_listing)
        listStep();
    if (m_downloading)
        downloadStep();
}

void PosSequencer::listStep()
{
    if (m_listSlot >= 1 && m_listSlot <= POSFILE_MAX_FILES) {
        posfile_info_request(m_manager, m_listSlot);
        /* Wait for the camera to be heard again since the last listed slot. */
        if (!cameraValid())
            return;
        posfile_entry_t entry;
        if (posfile_info_get(m_manager, m_listSlot, &entry) == 0) {
            m_deviceList.append(entry);
            m_failures = 0;
            emit entryListed(static_cast<int>(m_deviceList.size()) - 1, entry);
            ++m_listSlot;
            clearCameraValid();
        }
    }
    if (m_failures > maxListFailures) {
        std::printf("Error: POS slot %d did not answer; skipped.\n", m_listSlot);
        ++m_listSlot;
        m_failures = 0;
        /* The next slot waits for the camera to be heard again: a silent camera skips none. */
        clearCameraValid();
    }
    ++m_failures;
    if (m_listSlot > POSFILE_MAX_FILES) {
        std::printf("refresh success\n");
        std::fflush(stdout);
        m_listing = false;
        emit listingFinished(static_cast<int>(m_deviceList.size()));
    }
}

bool PosSequencer::startDownload(const QList<int> &rows, const QString &savePath, bool perLens,
                                 QString *error)
{
    auto refuse = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!m_manager)
        return refuse(QStringLiteral("no camera connected"));
    if (busy())
        return refuse(QStringLiteral("a listing, download or delete is still running"));
    if (rows.isEmpty())
        return refuse(QStringLiteral("no file chosen"));
    for (int row : rows)
        if (row < 0 || row >= m_deviceList.size())
            return refuse(QStringLiteral("no file with ID %1 on the camera").arg(row + 1));
    if (PosRules::protocolFor(m_firmware) != PosRules::Protocol::Plain && m_recordSize != 32 &&
        m_recordSize != 52)
        return refuse(QStringLiteral("the camera's POS record size is not known yet"));
    m_selection = rows;
    m_savePath = savePath;
    m_perLens = perLens && m_recordSize == 52;
    m_cursor = 0;
    m_current = Current{};
    m_downloading = true;
    store(m_manager->lens_mode, m_perLens ? 1u : 0u);
    store(m_manager->transfer_state, POSFILE_WANT_NEXT);
    emit downloadStarted();
    reportProgress(0);
    return true;
}

void PosSequencer::cancelDownload()
{
    if (!m_downloading)
        return;
    m_downloading = false;
    m_cancelPending = true;
    discardTables();
    emit downloadCancelled();
}

bool PosSequencer::startDelete(const QList<int> &rows)
{
    if (!m_manager || busy() || rows.isEmpty())
        return false;
    m_deleteNumbers.clear();
    for (int row : rows)
        if (row >= 0 && row < m_deviceList.size())
            m_deleteNumbers.append(m_deviceList[row].number);
    m_deleteCursor = 0;
    m_deleting = true;
    return true;
}

void PosSequencer::deleteStep()
{
    if (m_deleteCursor < m_deleteNumbers.size()) {
        const uint8_t number = m_deleteNumbers[m_deleteCursor++];
        posfile_file_remove(m_manager, number);
        posfile_info_clear(m_manager, number);
        std::printf("delete: %d\n", number);
        emit slotDeleted(number);
        return;
    }
    m_deleting = false;
    std::printf("delete success\n");
    std::fflush(stdout);
    emit deleteFinished();
    startListing();
}

bool PosSequencer::openLensTables(QString *error)
{
    for (int lens = 0; lens < 5; ++lens) {
        const QString temp = m_current.lensTemps[lens];
        FILE *file = std::fopen(QFile::encodeName(temp).constData(), "wb+");
        if (!file) {
            *error =
                QStringLiteral("cannot create %1: %2")
                    .arg(m_current.lensPaths[lens], QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        _ofrm_initexcelheadoffsetsingle(file);
        m_lensFiles[static_cast<size_t>(lens)] = file;
        store(m_manager->lens_tables[lens], file);
    }
    return true;
}

bool PosSequencer::startFile(QString *error)
{
    const int row = m_selection[m_cursor];
    const posfile_entry_t entry = m_deviceList[row];
    m_current = Current{};
    m_current.row = row;
    m_current.number = entry.number;
    m_current.size = entry.end_address - entry.start_address;
    m_current.path =
        PosRules::downloadPath(m_savePath, static_cast<int>(m_selection.size()), row + 1);
    m_current.tempPath = temporaryName(m_current.path);
    if (m_perLens)
        for (int lens = 0; lens < 5; ++lens) {
            m_current.lensPaths << PosRules::lensTablePath(m_current.path, lens);
            m_current.lensTemps << temporaryName(m_current.lensPaths.last());
        }
    m_current.sinceChange.start();

    store(m_manager->current_file, entry.number);
    store(m_manager->expected_size, m_current.size);
    const QByteArray table = QFile::encodeName(m_current.tempPath);
    const PosRules::Protocol protocol = PosRules::protocolFor(m_firmware);
    int result;
    if (protocol == PosRules::Protocol::Plain) {
        result = posfile_file_request(m_manager, entry.number, table.constData());
    } else {
        if (protocol == PosRules::Protocol::EndMarker)
            store(m_manager->end_marker_flag, 1u);
        if (m_perLens && !openLensTables(error))
            return false;
        result = posfile_file_request_offset(m_manager, entry.number, table.constData(),
                                             m_current.size, m_recordSize);
    }
    if (result != 0) {
        *error = QStringLiteral("cannot create %1 or ask the camera for it").arg(m_current.path);
        return false;
    }
    return true;
}

uint32_t PosSequencer::received()
{
    return posfile_process(m_manager);
}

void PosSequencer::reportProgress(uint32_t received)
{
    const uint32_t size = m_current.row >= 0 ? m_current.size : 0;
    const double percent = size ? received * 100.0 / size : 0.0;
    emit progressChanged(static_cast<int>(percent),
                         PosRules::progressText(m_cursor, static_cast<int>(m_selection.size()),
                                                size, m_recordSize, percent));
}

void PosSequencer::downloadStep()
{
    uint8_t state = load(m_manager->transfer_state);
    if (state == POSFILE_WANT_NEXT) {
        QString error;
        if (!startFile(&error))
            failDownload(Failure::Other, error);
        return;
    }
    /*
     * The bytes after the state: the receive thread counts a file's last records before its end
     * marker ends the file, so a file seen ended is never judged on a count read before them.
     */
    const uint32_t got = received();
    if (got != m_current.lastReceived) {
        m_current.lastReceived = got;
        m_current.sinceChange.restart();
    }
    reportProgress(got);

    const PosRules::Protocol protocol = PosRules::protocolFor(m_firmware);
    if (got >= m_current.size) {
        if (protocol != PosRules::Protocol::Acknowledged) {
            if (state == POSFILE_REQUESTED) {
                store(m_manager->transfer_state, POSFILE_FINISHED);
                state = POSFILE_FINISHED;
            }
        } else if (!m_current.acknowledged) {
            posfile_file_success(m_manager, m_current.number);
            store(m_manager->end_marker_flag, 1u);
            m_current.acknowledged = true;
        }
    }
    if (state == POSFILE_FINISHED) {
        /* The camera's end marker closed a file that is still short: its records are missing. */
        if (got < m_current.size) {
            failDownload(Failure::Short);
            return;
        }
        if (protocol != PosRules::Protocol::Acknowledged || m_current.acknowledged) {
            finishFile();
            return;
        }
    }
    if (m_current.sinceChange.elapsed() > m_stallMs)
        failDownload(Failure::Timeout);
}

void PosSequencer::closeTables()
{
    if (!m_manager)
        return;
    /* The main table first: once it is closed no record reaches the lens tables. */
    _ofrm_closefile(m_manager);
    for (size_t lens = 0; lens < m_lensFiles.size(); ++lens) {
        store(m_manager->lens_tables[lens], static_cast<FILE *>(nullptr));
        if (m_lensFiles[lens])
            std::fclose(m_lensFiles[lens]);
        m_lensFiles[lens] = nullptr;
    }
    store(m_manager->activity, 0u);
    store(m_manager->record_counter, 0u);
}

void PosSequencer::discardTables()
{
    closeTables();
    if (m_current.row < 0)
        return;
    QFile::remove(m_current.tempPath);
    for (const QString &temp : std::as_const(m_current.lensTemps))
        QFile::remove(temp);
    if (m_manager) {
        store(m_manager->transfer_state, POSFILE_IDLE);
        store(m_manager->end_marker_flag, 0u);
    }
}

void PosSequencer::finishFile()
{
    closeTables();
    QString error;
    bool renamed = replaceFile(m_current.tempPath, m_current.path, &error);
    for (int lens = 0; renamed && lens < m_current.lensTemps.size(); ++lens)
        renamed = replaceFile(m_current.lensTemps[lens], m_current.lensPaths[lens], &error);
    if (!renamed) {
        failDownload(Failure::Other, error);
        return;
    }
    std::printf("download success, %d\n", m_current.row + 1);
    std::fflush(stdout);
    const int records = m_recordSize ? static_cast<int>(m_current.size / m_recordSize) : 0;
    emit fileDownloaded(m_current.row, m_current.path, records);
    if (m_cursor < m_selection.size() - 1) {
        ++m_cursor;
        store(m_manager->transfer_state, POSFILE_WANT_NEXT);
        return;
    }
    store(m_manager->end_marker_flag, 0u);
    m_downloading = false;
    emit progressChanged(100, QString());
    emit downloadFinished();
}

void PosSequencer::failDownload(Failure failure, const QString &detail)
{
    const int row = m_current.row >= 0 ? m_current.row : m_selection.value(m_cursor, -1);
    const QString path =
        m_current.row >= 0
            ? m_current.path
            : PosRules::downloadPath(m_savePath, static_cast<int>(m_selection.size()), row + 1);
    /* Tell the camera to stop sending, and leave nothing under a final name. */
    posfile_file_cancelRequest(m_manager);
    discardTables();
    m_downloading = false;
    emit downloadFailed(failure, detail, row, path);
}
