#include "OffloadController.h"

#include "CardFinder.h"
#include "LensTable.h"
#include "platform/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryFile>

namespace {

/* Whether `path` lies in the folder `root` (or is it). */
bool inside(const QString &path, const QString &root)
{
    const QString folder = QDir::cleanPath(root);
    const QString clean = QDir::cleanPath(path);
    return clean == folder ||
           clean.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
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

    QList<GeoPosition> positions;
    QStringList loaded;
    for (const QString &table : plan.posTables) {
        const QString path = QFileInfo(table).absoluteFilePath();
        if (loaded.contains(path))
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
        loaded << path;
    }
    m_plan = plan;
    m_plan.saveDir = save;
    m_positions = positions;
    return true;
}

bool OffloadController::start(QString *error)
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
    for (const auto &[disk, source] : std::as_const(m_plan.sources)) {
        const Lens &lens = LensTable::lens(disk);
        const QString folder = m_plan.saveDir + QLatin1Char('/') + lens.word;
        if (!QDir().mkpath(folder)) {
            *error = QStringLiteral("cannot create %1").arg(folder);
            stop();
            return false;
        }
        auto info = std::make_unique<PhotoInfoFile>(dataDir, lens.key);
        if (!info->startFresh(error)) {
            stop();
            return false;
        }
        auto task = std::make_unique<DiskTask>();
        disk_task_t &r = task->record;
        disk_task_set_text(r.dest_folder, folder);
        disk_task_set_text(r.source_folder, QDir::cleanPath(source));
        disk_task_set_text(r.volume_path, folder + QStringLiteral("/pack1.zip"));
        disk_task_set_text(r.volume_name, QStringLiteral("pack1"));
        disk_task_set_text(r.zip_folder, folder + QLatin1Char('/'));
        if (!disk_task_set_text(r.task_file, taskFilePath(dataDir, disk))) {
            *error = QStringLiteral("the data folder's path %1 is too long").arg(dataDir);
            stop();
            return false;
        }
        PhotoInfoFile *infoFile = info.get();
        task->hooks.position = [this](int index, GeoPosition *position) {
            if (index < 0 || index >= m_positions.size())
                return false;
            *position = m_positions.at(index);
            return true;
        };
        /* The end of a worker is looked at at once, not at the next tick. */
        task->hooks.ended = [this] {
            QMetaObject::invokeMethod(this, &OffloadController::poll, Qt::QueuedConnection);
        };
        task->hooks.photoWritten = [infoFile](const QString &path, const PhotoInfo &photo) {
            QString ignored;
            if (!infoFile->append(path, photo, &ignored))
                std::printf("%s\n", qPrintable(ignored));
        };
        if (disk_task_create(task.get(), disk, error) != 0) {
            *error = QStringLiteral("lens %1: %2").arg(lens.key, *error);
            stop();
            return false;
        }
        m_tasks.push_back(std::move(task));
        m_infoFiles.push_back(std::move(info));
    }
    m_running = true;
    m_timer.start();
    return true;
}

void OffloadController::stop()
{
    for (const auto &task : m_tasks)
        disk_task_stop(task.get(), task->record.disk);
    if (m_running) {
        m_running = false;
        m_timer.stop();
        poll();
    }
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
        emit finished(ok);
    }
}
