#include "OffloadController.h"

#include "BlocksExchangeWriter.h"
#include "CardFinder.h"
#include "ChecksumList.h"
#include "FileHash.h"
#include "ZipVolume.h"
#include "platform/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryFile>

#include <cstring>

namespace {

/* Whether `path` lies in the folder `root` (or is it). */
bool inside(const QString &path, const QString &root)
{
    const QString folder = QDir::cleanPath(root);
    const QString clean = QDir::cleanPath(path);
    return clean == folder ||
           clean.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

/* `path` relative to the folder `root`, or relative to "/" when it does not lie in it. */
QString relativeTo(const QString &path, const QString &root)
{
    const QString clean = QDir::cleanPath(path);
    const QString folder = QDir::cleanPath(root);
    if (!folder.isEmpty() && folder != QLatin1String("/") &&
        clean.startsWith(folder + QLatin1Char('/')))
        return clean.mid(folder.size() + 1);
    return clean.mid(clean.startsWith(QLatin1Char('/')) ? 1 : 0);
}

/* A record line as it would be written, without its time: what tells a line already there. */
QByteArray lineKey(OffloadRecord::FileLine line)
{
    line.time = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    return OffloadRecord::line(line);
}

} // namespace

OffloadController::OffloadController(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, &OffloadController::poll);
}

OffloadController::~OffloadController()
{
    stop();
}

QString OffloadController::taskFilePath(const QString &dataDir, int disk)
{
    return dataDir + QLatin1Char('/') + LensTable::lens(disk).key + QStringLiteral(".log");
}

bool OffloadController::prepare(const OffloadPlan &plan, const QList<Volume> &volumes,
                                QString *error)
{
    if (m_running) {
        *error = QStringLiteral("a transfer is running");
        return false;
    }
    if (plan.sources.isEmpty()) {
        *error = QStringLiteral("no lens to offload: no card found and no --lens given");
        return false;
    }
    const QString save = QDir::cleanPath(QFileInfo(plan.saveDir).absoluteFilePath());
    for (const auto &[disk, source] : plan.sources) {
        if (!QFileInfo(source).isDir()) {
            *error =
                QStringLiteral("lens %1: %2 is no folder").arg(LensTable::lens(disk).key, source);
            return false;
        }
        if (inside(save, source)) {
            *error = QStringLiteral("the save folder %1 lies in the photo folder of lens %2")
                         .arg(save, LensTable::lens(disk).key);
            return false;
        }
    }
    /* Never a save folder on a card: the card is the only copy and is not written. */
    for (const Volume &volume : volumes)
        if (LensTable::diskForLabel(volume.label) >= 0 && inside(save, volume.mountPath)) {
            *error = QStringLiteral("the save folder %1 is on the card %2 (%3)")
                         .arg(save, volume.label, volume.mountPath);
            return false;
        }
    if (!QDir().mkpath(save)) {
        *error = QStringLiteral("cannot create the save folder %1").arg(save);
        return false;
    }
    {
        QTemporaryFile probe(save + QStringLiteral("/.orvex-write-check-XXXXXX"));
        if (!probe.open()) {
            *error = QStringLiteral("the save folder %1 is not writable: %2")
                         .arg(save, probe.errorString());
            return false;
        }
    }
    for (const auto &[disk, source] : plan.sources) {
        const QString folder = save + QLatin1Char('/') + LensTable::lens(disk).word;
        char probe[256];
        if (!disk_task_set_text(probe, folder + QStringLiteral("/pack1.zip")) ||
            !disk_task_set_text(probe, source)) {
            *error = QStringLiteral("lens %1: a path is longer than 255 bytes")
                         .arg(LensTable::lens(disk).key);
            return false;
        }
    }

    if (plan.splitMiB < 0 || (plan.splitText.size() && plan.splitMiB <= 0)) {
        *error = QStringLiteral("the volume size %1 is not above 0").arg(plan.splitText);
        return false;
    }
    if (!plan.password.isEmpty() && plan.splitMiB <= 0) {
        *error = QStringLiteral("a password protects zip volumes: give a volume size too");
        return false;
    }
    QString why;
    if (!plan.password.isEmpty() && !ZipVolume::passwordUsable(plan.password, &why)) {
        *error = why;
        return false;
    }
    if (!loadTables(plan.posTables, error))
        return false;

    /* Free space, in bytes, against what the transfer writes: the photos, twice with volumes. */
    qint64 needed = 0;
    for (const auto &[disk, source] : plan.sources) {
        int photos = 0;
        qint64 bytes = 0;
        CardFinder::measure(source, &photos, &bytes);
        needed += plan.splitMiB > 0 ? 2 * bytes : bytes;
    }
    const QStorageInfo storage(save);
    if (storage.isValid() && needed > storage.bytesAvailable()) {
        *error = QStringLiteral("not enough free space on %1 for %2: the transfer writes %3 MB, "
                                "%4 MB are free")
                     .arg(storage.rootPath(), save)
                     .arg(needed / 1000000)
                     .arg(storage.bytesAvailable() / 1000000);
        return false;
    }
    if (plan.splitMiB > 0 && plan.splitMiB * 1048576.0 > double(storage.bytesTotal())) {
        *error = QStringLiteral("the volume size %1 is larger than the disk of %2")
                     .arg(plan.splitText, save);
        return false;
    }
    m_plan = plan;
    m_plan.saveDir = save;
    m_plan.readBack = plan.readBack && plan.hashes;
    m_volumes = volumes;
    return true;
}

bool OffloadController::loadTables(const QStringList &paths, QString *error)
{
    QList<GeoPosition> positions;
    QList<QPair<QString, MyExcelObject>> tables;
    for (const QString &table : paths) {
        const QString path = QFileInfo(table).absoluteFilePath();
        bool seen = false;
        for (const auto &loaded : std::as_const(tables))
            seen = seen || loaded.first == path;
        if (seen)
            continue; /* the same table twice counts once */
        MyExcelObject object;
        if (!object.load(path)) {
            *error = QStringLiteral("POS table %1 does not load: %2").arg(table, object.error);
            return false;
        }
        if (object.positionList.isEmpty()) {
            *error = QStringLiteral("POS table %1 holds no position").arg(table);
            return false;
        }
        for (const PosPoint &p : std::as_const(object.positionList))
            positions.append(GeoPosition{p.lon, p.lat, p.alt});
        tables.append({path, object});
    }
    m_positions = positions;
    m_tables = tables;
    return true;
}

bool OffloadController::start(QString *error)
{
    return startTasks(false, error);
}

bool OffloadController::resume(const QList<Volume> &volumes, QString *error, bool readBack)
{
    const QString file = TaskConfig::path(AppPaths::dataDir());
    QString why;
    const std::optional<TaskConfig> config = TaskConfig::read(file, &why);
    if (!config) {
        *error = QStringLiteral("no transfer to resume: %1").arg(why);
        return false;
    }
    if (config->success) {
        *error = QStringLiteral("no transfer to resume: the last one (%1) completed")
                     .arg(config->saveDir);
        return false;
    }
    OffloadPlan plan;
    plan.saveDir = config->saveDir;
    for (int disk = 0; disk < LensTable::count; ++disk)
        if (!config->pans[static_cast<size_t>(disk)].path.isEmpty())
            plan.sources.append({disk, config->pans[static_cast<size_t>(disk)].path});
    for (const TaskConfig::PosTable &table : config->pose)
        plan.posTables << table.path;
    plan.sorties = config->sorties;
    plan.splitText = config->split ? config->splitValue : QString();
    plan.splitMiB = config->split ? OffloadController::parseSize(config->splitValue) : 0;
    plan.password = config->usePassword ? config->password.toUtf8() : QByteArray();
    plan.readBack = readBack;
    if (config->split && plan.splitMiB <= 0) {
        *error = QStringLiteral("%1 names the volume size '%2', which is not a size")
                     .arg(file, config->splitValue);
        return false;
    }
    if (!prepare(plan, volumes, error))
        return false;
    return startTasks(true, error);
}

double OffloadController::parseSize(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]+)?)\\s*(GB|MB)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return -1;
    const double value = match.captured(1).toDouble();
    return match.captured(2).compare(QLatin1String("GB"), Qt::CaseInsensitive) == 0 ? value * 1024
                                                                                    : value;
}

bool OffloadController::startTasks(bool resuming, QString *error)
{
    if (m_running) {
        *error = QStringLiteral("a transfer is running");
        return false;
    }
    Geotagger::initialize();
    const QString dataDir = AppPaths::dataDir();
    m_tasks.clear();
    m_infoFiles.clear();
    m_reportedFailures.clear();
    m_exchangeFiles.clear();
    /* Each photo folder's card: the volume it lies on, the deepest one holding it. */
    for (const auto &[disk, source] : std::as_const(m_plan.sources)) {
        CardOrigin origin;
        for (const Volume &volume : std::as_const(m_volumes))
            if (inside(source, volume.mountPath) && volume.mountPath.size() > origin.root.size())
                origin = {VolumeQuery::volumeUuid(volume.device), volume.label, volume.mountPath};
        /* A folder on no volume that can be told is no card: its lines make no card safe. */
        if (origin.uuid.isEmpty())
            origin.uuid = QStringLiteral("unknown");
        m_origins[static_cast<size_t>(disk)] = origin;
    }
    if (m_plan.hashes && !openRecord(error))
        return false;
    for (const auto &[disk, source] : std::as_const(m_plan.sources)) {
        const Lens &lens = LensTable::lens(disk);
        const QString folder = m_plan.saveDir + QLatin1Char('/') + lens.word;
        if (!QDir().mkpath(folder)) {
            *error = QStringLiteral("cannot create %1").arg(folder);
            stop();
            return false;
        }
        auto info = std::make_unique<PhotoInfoFile>(dataDir, lens.key);
        if (!resuming && !info->startFresh(error)) {
            stop();
            return false;
        }
        auto task = std::make_unique<DiskTask>();
        disk_task_t &r = task->record;
        r.disk = disk;
        disk_task_set_text(r.dest_folder, folder);
        disk_task_set_text(r.source_folder, QDir::cleanPath(source));
        disk_task_set_text(r.volume_path, folder + QStringLiteral("/pack1.zip"));
        disk_task_set_text(r.volume_name, QStringLiteral("pack1"));
        disk_task_set_text(r.zip_folder, folder + QLatin1Char('/'));
        if (m_plan.splitMiB > 0) {
            r.split = 1;
            r.volume_limit_mib = m_plan.splitMiB;
        }
        if (!m_plan.password.isEmpty()) {
            r.use_password = 1;
            std::memcpy(r.password, m_plan.password.constData(),
                        std::min<size_t>(static_cast<size_t>(m_plan.password.size()), 255));
        }
        if (!disk_task_set_text(r.task_file, taskFilePath(dataDir, disk))) {
            *error = QStringLiteral("the data folder's path %1 is too long").arg(dataDir);
            stop();
            return false;
        }
        task->checks.hash = m_plan.hashes;
        task->checks.readBack = m_plan.readBack;
        if (m_plan.hashes) {
            /* `disk = disk`: clang takes a structured binding into a lambda only from 16 on. */
            task->hooks.copied = [this, disk = disk](const CopiedFile &file, QString *error) {
                return recordCopy(disk, file, error);
            };
            task->hooks.volumeClosed = [this, disk = disk](const QString &volume, QString *error) {
                return recordVolume(disk, volume, error);
            };
        }
        PhotoInfoFile *infoFile = info.get();
        task->hooks.position = [this](int index, GeoPosition *position) {
            if (index < 0 || index >= m_positions.size())
                return false;
            *position = m_positions.at(index);
            return true;
        };
        /* The end of a worker is looked at at once, not at the next tick. */
        task->hooks.ended = [this, disk = disk] {
            writeChecksums(disk);
            QMetaObject::invokeMethod(this, &OffloadController::poll, Qt::QueuedConnection);
        };
        task->hooks.resumed = [this, infoFile](const QStringList &done) {
            QString error;
            if (!infoFile->rebuild(done, &error))
                QMetaObject::invokeMethod(this, [this, error] { emit problem(error); });
        };
        task->hooks.photoWritten = [infoFile](const QString &path, const PhotoInfo &photo) {
            QString ignored;
            if (!infoFile->append(path, photo, &ignored))
                std::printf("%s\n", qPrintable(ignored));
        };
        m_tasks.push_back(std::move(task));
        m_infoFiles.push_back(std::move(info));
    }
    /*
     * The transfer's settings as they stand before the workers run; written
     * once every task file exists, so that a transfer killed at any moment
     * after it can be resumed.
     */
    saveConfig(false, false);
    for (const auto &task : m_tasks) {
        const int disk = task->record.disk;
        /* A lens whose task file a killed start did not get to write starts afresh. */
        const bool resumeThis =
            resuming && QFileInfo::exists(QString::fromUtf8(task->record.task_file));
        if (resuming && !resumeThis && !m_infoFiles[&task - &m_tasks[0]]->startFresh(error)) {
            stop();
            return false;
        }
        const int result = resumeThis ? disk_task_resume(task.get(), disk, error)
                                      : disk_task_create(task.get(), disk, error);
        if (result != 0) {
            *error = QStringLiteral("lens %1: %2").arg(LensTable::lens(disk).key, *error);
            stop();
            return false;
        }
        /* The task's files as the record names them, for the progress reports' counts. */
        QStringList paths;
        for (const file_info_t &file : task->run->files)
            paths << relativeTo(QString::fromUtf8(file.path), m_origins[size_t(disk)].root);
        std::lock_guard<std::mutex> lock(m_recordMutex);
        m_cardPaths[static_cast<size_t>(disk)] = paths;
    }
    writeConfig();
    m_running = true;
    m_timer.start();
    return true;
}

void OffloadController::stop()
{
    for (const auto &task : m_tasks)
        disk_task_stop(task.get(), task->record.disk);
    /* Without read-back the record's lines are synced here, at a pause, and at the end. */
    QString error;
    if (m_record.isOpen() && !m_record.sync(&error))
        emit problem(error);
    if (m_running) {
        m_running = false;
        m_timer.stop();
        saveConfig(false);
        poll();
    }
}

void OffloadController::saveConfig(bool success, bool write)
{
    TaskConfig &config = m_config;
    config = TaskConfig();
    config.saveDir = m_plan.saveDir;
    for (const auto &[disk, source] : std::as_const(m_plan.sources)) {
        TaskConfig::Pan &pan = config.pans[static_cast<size_t>(disk)];
        pan.path = source;
        for (const auto &task : m_tasks)
            if (task->record.disk == disk) {
                pan.hasTask = true;
                pan.planCount = disk_task_planned(task.get());
                pan.hasCount = disk_task_done(task.get());
                pan.zipPath = QString::fromUtf8(task->record.volume_path);
                pan.zipName = QString::fromUtf8(task->record.volume_name);
            }
    }
    for (const auto &[path, table] : std::as_const(m_tables)) {
        TaskConfig::PosTable copy;
        copy.path = path;
        copy.times = table.timeList;
        for (const PosPoint &p : table.positionList)
            copy.positions.append(GeoPosition{p.lon, p.lat, p.alt});
        config.pose.append(copy);
    }
    config.sorties = m_plan.sorties;
    config.split = m_plan.splitMiB > 0;
    config.splitValue = m_plan.splitText;
    config.usePassword = !m_plan.password.isEmpty();
    config.password = QString::fromUtf8(m_plan.password);
    config.success = success;
    if (write)
        writeConfig();
}

void OffloadController::writeConfig()
{
    QString error;
    if (!m_config.write(TaskConfig::path(AppPaths::dataDir()), &error))
        emit problem(error);
}

void OffloadController::complete(bool ok)
{
    saveConfig(ok);
    if (!ok || !m_plan.sorties)
        return;
    /* Sorties are numbered by time: the tables ascending by their first time. */
    QList<QPair<QString, MyExcelObject>> tables = m_tables;
    std::stable_sort(tables.begin(), tables.end(), [](const auto &a, const auto &b) {
        const quint32 first = a.second.timeList.value(0, MyExcelObject::InvalidTime);
        return first < b.second.timeList.value(0, MyExcelObject::InvalidTime);
    });
    QList<Sortie> sorties;
    for (const auto &[path, table] : std::as_const(tables)) {
        Sortie sortie;
        sortie.times = table.timeList;
        for (const PosPoint &p : table.positionList)
            sortie.positions.append(GeoPosition{p.lon, p.lat, p.alt});
        sorties.append(sortie);
    }
    QList<LensPhotos> lenses;
    for (const auto &info : m_infoFiles) {
        LensPhotos lens;
        for (const auto &task : m_tasks)
            if (info->path().endsWith(QLatin1Char('/') + LensTable::lens(task->record.disk).key +
                                      QStringLiteral(".txt")))
                lens.disk = task->record.disk;
        QString error;
        lens.lines = BlocksExchangeWriter::readPhotoLines(info->path(), nullptr, &error);
        if (!error.isEmpty())
            emit problem(error);
        lenses.append(lens);
    }
    QString error;
    if (!BlocksExchangeWriter::write(m_plan.saveDir, sorties, lenses, &m_exchangeFiles, &error))
        emit problem(error);
}

bool OffloadController::isRunning() const
{
    return m_running;
}

void OffloadController::totals(int *done, int *planned, qint64 *bytes) const
{
    *done = *planned = 0;
    *bytes = 0;
    for (const auto &task : m_tasks) {
        *done += disk_task_done(task.get());
        *planned += disk_task_planned(task.get());
        if (task->run)
            *bytes += task->run->bytesWritten.load();
    }
}

QList<LensSummary> OffloadController::summary() const
{
    QList<LensSummary> lenses;
    for (const auto &task : m_tasks) {
        LensSummary s;
        s.disk = task->record.disk;
        s.source = QString::fromUtf8(task->record.source_folder);
        s.folder = QString::fromUtf8(task->record.dest_folder);
        s.planned = disk_task_planned(task.get());
        s.done = disk_task_done(task.get());
        s.finished = disk_task_finished(task.get());
        s.error = disk_task_error(task.get());
        if (DiskTaskRun *run = task->run.get()) {
            s.geotagged = run->geotagged.load();
            s.skipped = run->skipped.load();
            s.written = run->written.load();
            s.bytesWritten = run->bytesWritten.load();
            /* The card's files as the task lists them, looked up in the record. */
            std::lock_guard<std::mutex> lock(m_recordMutex);
            const QHash<QString, bool> &recorded = m_cardFiles[static_cast<size_t>(s.disk)];
            for (const QString &path : m_cardPaths[static_cast<size_t>(s.disk)]) {
                const auto it = recorded.constFind(path);
                s.copied += it != recorded.cend();
                s.verified += it != recorded.cend() && *it;
            }
            std::lock_guard<std::mutex> guard(run->mutex);
            for (const SkippedFile &file : run->skippedFiles)
                s.skippedFiles << file;
        }
        lenses << s;
    }
    return lenses;
}

void OffloadController::poll()
{
    int done = 0;
    int planned = 0;
    qint64 bytes = 0;
    totals(&done, &planned, &bytes);
    emit progressChanged(done, planned);
    bool allEnded = true;
    bool ok = true;
    for (const auto &task : m_tasks) {
        const int disk = task->record.disk;
        const bool ended = disk_task_finished(task.get());
        allEnded = allEnded && ended;
        /* Decided by the task's own counts: ended, and every planned file done. */
        ok = ok && ended && disk_task_done(task.get()) == disk_task_planned(task.get());
        const QString error = disk_task_error(task.get());
        if (!error.isEmpty() && !m_reportedFailures.contains(disk)) {
            m_reportedFailures << disk;
            emit lensFailed(disk, error);
        }
    }
    if (allEnded && m_running) {
        m_running = false;
        m_timer.stop();
        for (const auto &task : m_tasks)
            disk_task_stop(task.get(), task->record.disk);
        {
            std::lock_guard<std::mutex> lock(m_recordMutex);
            ok = ok && m_listFailures.isEmpty();
        }
        QString error;
        if (m_record.isOpen() && !m_record.sync(&error)) {
            emit problem(error);
            ok = false;
        }
        m_record.close();
        complete(ok);
        emit finished(ok);
    }
}

QString OffloadController::recordPath() const
{
    return OffloadRecord::pathIn(m_plan.saveDir);
}

bool OffloadController::openRecord(QString *error)
{
    m_record.close();
    const QString path = recordPath();
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_recordedLines.clear();
    m_cardFiles = {};
    m_sums = {};
    m_volumeLines.clear();
    m_listFailures.clear();
    /* What the record holds already (a resume, or the same cards offloaded again). */
    QString why;
    const std::optional<OffloadRecord::Contents> contents =
        QFileInfo::exists(path) ? OffloadRecord::read(path, &why) : std::nullopt;
    if (contents) {
        for (const OffloadRecord::FileLine &line : contents->files) {
            const auto disk = static_cast<size_t>(line.disk);
            const QString word = LensTable::lens(line.disk).word + QLatin1Char('/');
            m_recordedLines.insert(lineKey(line));
            if (line.cardUuid == m_origins[disk].uuid)
                m_cardFiles[disk].insert(line.cardPath, line.verified);
            if (line.copy.startsWith(word) && !line.copy.mid(word.size()).contains(u'/'))
                m_sums[disk].insert(line.copy.mid(word.size()), line.copyHash);
        }
        for (const OffloadRecord::VolumeLine &line : contents->volumes) {
            const QString word = LensTable::lens(line.disk).word + QLatin1Char('/');
            m_volumeLines.insert(line.volume, {line.size, line.hash});
            if (line.volume.startsWith(word))
                m_sums[static_cast<size_t>(line.disk)].insert(line.volume.mid(word.size()),
                                                              line.hash);
        }
    }
    return m_record.open(path, m_plan.readBack, error);
}

bool OffloadController::recordCopy(int disk, const CopiedFile &file, QString *error)
{
    const CardOrigin &origin = m_origins[static_cast<size_t>(disk)];
    OffloadRecord::FileLine line;
    line.disk = disk;
    line.cardUuid = origin.uuid;
    line.cardLabel = origin.label;
    line.cardPath = relativeTo(file.source, origin.root);
    line.size = file.size;
    line.mtime = {file.mtimeSeconds, file.mtimeNanoseconds};
    line.sourceHash = file.sourceHash;
    line.copy = relativeTo(file.copy, m_plan.saveDir);
    line.copySize = file.copySize;
    line.copyHash = file.copyHash;
    line.verified = file.verified;
    /*
     * A file copied again after a kill gives the line it had: the record keeps
     * one. Each lens appends only its own lines, so the line is looked for and
     * appended without holding the lock across the append's sync, which the
     * progress reports would wait for.
     */
    const QByteArray key = lineKey(line);
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        known = m_recordedLines.contains(key);
    }
    if (!known && !m_record.append(line, error))
        return false;
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_recordedLines.insert(key);
    m_cardFiles[static_cast<size_t>(disk)].insert(line.cardPath, line.verified);
    m_sums[static_cast<size_t>(disk)].insert(QFileInfo(file.copy).fileName(), line.copyHash);
    return true;
}

bool OffloadController::recordVolume(int disk, const QString &volumePath, QString *error)
{
    const QString volume = relativeTo(volumePath, m_plan.saveDir);
    const qint64 size = QFileInfo(volumePath).size();
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        const auto known = m_volumeLines.constFind(volume);
        if (known != m_volumeLines.cend() && known->first == size)
            return true;
    }
    OffloadRecord::VolumeLine line;
    line.disk = disk;
    line.volume = volume;
    line.size = size;
    if (m_plan.readBack) {
        if (!ZipVolume::test(volumePath, m_plan.password, &line.hash, error))
            return false;
        line.tested = true;
    } else {
        int code = 0;
        const std::optional<quint64> hash = FileHash::coldFile(volumePath, &code);
        if (!hash) {
            *error = QStringLiteral("cannot read the zip volume %1: %2")
                         .arg(volumePath, QString::fromLocal8Bit(std::strerror(code)));
            return false;
        }
        line.hash = *hash;
    }
    if (!m_record.append(line, error))
        return false;
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_volumeLines.insert(volume, {size, line.hash});
    m_sums[static_cast<size_t>(disk)].insert(QFileInfo(volumePath).fileName(), line.hash);
    return true;
}

void OffloadController::writeChecksums(int disk)
{
    if (!m_plan.hashes)
        return;
    QList<ChecksumList::Entry> entries;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        const auto &sums = m_sums[static_cast<size_t>(disk)];
        for (auto it = sums.cbegin(); it != sums.cend(); ++it)
            entries.append({it.key(), it.value()});
    }
    const QString folder = m_plan.saveDir + QLatin1Char('/') + LensTable::lens(disk).word;
    QString error;
    if (entries.isEmpty() || ChecksumList::update(folder, entries, &error))
        return;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        m_listFailures << error;
    }
    QMetaObject::invokeMethod(this, [this, error] { emit problem(error); });
}

bool OffloadController::allVerified() const
{
    const QList<LensSummary> lenses = summary();
    return std::all_of(lenses.cbegin(), lenses.cend(),
                       [](const LensSummary &lens) { return lens.verified == lens.planned; });
}
