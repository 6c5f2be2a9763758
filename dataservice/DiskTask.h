/*
 * The per-lens offload worker. A task copies one lens's photos from its card
 * into the lens's folder of the save directory on a thread of its own,
 * geotagging each JPEG photo on the way, and records after every file how far
 * it got, so that an interrupted transfer resumes at the next file.
 *
 * The task record `disk_task_t` is also the header of the task file
 * ("center.log" in the data folder), followed by one 260-byte entry per file
 * of the card folder. Its layout is kept byte for byte; on disk the run-time
 * slots are zero, and what a run needs in memory (thread, file list, hooks,
 * counters) lives in DiskTaskRun beside the record.
 *
 * The card is only ever read: each photo is read once, changed in memory and
 * written under a temporary name in the lens folder, then renamed to its
 * final name, so a file under its final name is always whole. The bytes read
 * and the bytes written are hashed on the way; with read-back on, the copy is
 * synced and read back from the disk before it counts as done.
 */
#ifndef DATASERVICE_DISKTASK_H
#define DATASERVICE_DISKTASK_H

#include "Geotagger.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

/* Task record: 1,888 bytes, little-endian; text fields UTF-8, NUL-terminated, zero-filled. */
struct disk_task_t {
    char password[256];         /* zip password, empty when none */
    int32_t use_password;       /* 1 or 0 */
    char dest_folder[256];      /* save directory + "/Center" */
    char source_folder[256];    /* the lens's photo folder on its card */
    char volume_path[256];      /* zip volume being filled */
    char volume_name[256];      /* "pack1" at first */
    char zip_folder[256];       /* save directory + "/Center/" */
    char task_file[256];        /* data folder + "/center.log" */
    int32_t reserved;           /* 0 */
    double volume_limit_mib;    /* volume size limit */
    int32_t split;              /* 1: pack zip volumes */
    int32_t padding;            /* 0 */
    uint64_t volume_bytes;      /* bytes counted into the current volume */
    int32_t disk;               /* lens: Centre 0, Left 1, Right 2, Front 3, Back 4 */
    int32_t running;            /* set by start, cleared by stop */
    int32_t finished;           /* set by the worker when it ends */
    int32_t file_num;           /* entries of the file list */
    int32_t next_index;         /* the first entry not yet done */
    uint32_t runtime_slots[11]; /* pointers of the 32-bit layout; zero here and on disk */
};
static_assert(sizeof(disk_task_t) == 1888, "the task file header is 1,888 bytes");
static_assert(offsetof(disk_task_t, use_password) == 256);
static_assert(offsetof(disk_task_t, dest_folder) == 260);
static_assert(offsetof(disk_task_t, task_file) == 1540);
static_assert(offsetof(disk_task_t, volume_limit_mib) == 1800);
static_assert(offsetof(disk_task_t, volume_bytes) == 1816);
static_assert(offsetof(disk_task_t, disk) == 1824);
static_assert(offsetof(disk_task_t, next_index) == 1840);
static_assert(offsetof(disk_task_t, runtime_slots) == 1844);

/* One entry of the task file: the file's path on the card. */
struct file_info_t {
    char path[260];
};
static_assert(sizeof(file_info_t) == 260, "a task file entry is 260 bytes");

/* A file whose copy reached its final name, with what it was checked against. */
struct CopiedFile {
    QString source; /* the file on the card */
    qint64 size = 0;
    qint64 mtimeSeconds = 0; /* the card file's modification time when it was read */
    qint32 mtimeNanoseconds = 0;
    quint64 sourceHash = 0; /* XXH64 of the bytes read from the card */
    QString copy;
    qint64 copySize = 0;
    quint64 copyHash = 0;  /* XXH64 of the bytes written */
    bool verified = false; /* synced, read back from the disk and matched copyHash */
};

/* How a task checks its copies. */
struct DiskTaskChecks {
    /* XXH64 of what is read and written, for the offload record; off only to measure its cost. */
    bool hash = true;
    /*
     * Each copy synced and read back cold from the disk; a mismatch copies the
     * file again once, a second one fails the task. Zip volumes are tested
     * when closed. Needs `hash`.
     */
    bool readBack = true;
};

/* What the worker asks of the transfer around it; called on the worker's thread. */
struct DiskTaskHooks {
    /* The position for the k-th JPEG photo of the lens (k from 0); false when there is none. */
    std::function<bool(int photoIndex, GeoPosition *position)> position;
    /* A photo reached its final name in the save folder. */
    std::function<void(const QString &copyPath, const PhotoInfo &info)> photoWritten;
    /* A file's copy is final (verified when read-back is on); false with `error` fails the task. */
    std::function<bool(const CopiedFile &file, QString *error)> copied;
    /*
     * A zip volume is closed for good: the lens moved on to the next volume,
     * or every file is done (then each of the lens's volumes is named, the
     * hook telling those it knows already). False with `error` fails the task.
     */
    std::function<bool(const QString &volumePath, QString *error)> volumeClosed;
    /* Just before a copy is read back from the disk, on a thread of its own (tests damage it). */
    std::function<void(const QString &copyPath)> beforeReadBack;
    /* A resumed worker, before its first file: the copies of the JPEG photos done so far. */
    std::function<void(const QStringList &doneCopies)> resumed;
    /* The worker ended (every file done, stopped, or failed); its last call. */
    std::function<void()> ended;
};

/* A file the worker copied without geotagging, and why. */
struct SkippedFile {
    QString path;
    QString reason;
};

/* The in-memory side of a running task. */
struct DiskTaskRun {
    std::vector<file_info_t> files;
    std::vector<int> photoIndex; /* per entry: JPEG photos before it, or -1 for a non-photo */
    std::thread thread;
    int taskFile = -1;
    std::vector<char> buffer; /* the copy buffer */
    bool resumed = false;     /* started by disk_task_resume */

    std::atomic<int> geotagged{0};
    std::atomic<int> skipped{0};
    std::atomic<int> written{0};
    std::atomic<int> verified{0}; /* of the files written, those read back and matched */
    std::atomic<qint64> bytesWritten{0};

    mutable std::mutex mutex; /* guards the two below */
    QString error;            /* why the task ended early; empty when it did not */
    std::vector<SkippedFile> skippedFiles;

    DiskTaskRun() = default;
    DiskTaskRun(const DiskTaskRun &) = delete;
    DiskTaskRun &operator=(const DiskTaskRun &) = delete;
    ~DiskTaskRun();
};

struct DiskTask {
    disk_task_t record{};
    DiskTaskChecks checks;
    DiskTaskHooks hooks;
    std::unique_ptr<DiskTaskRun> run;

    DiskTask() = default;
    DiskTask(const DiskTask &) = delete;
    DiskTask &operator=(const DiskTask &) = delete;
    /* Stops a worker that still runs. */
    ~DiskTask();
};

/*
 * Fresh start: list the source folder's files (sub-folders are not files; name
 * order, by the bytes of the UTF-8 name), write the task file, load it and
 * start the worker. -1 with the reason in `error` (a path too long for an
 * entry is refused before anything is copied).
 */
int disk_task_create(DiskTask *task, int disk, QString *error = nullptr);
/* Load the existing task file and start the worker at its next index. */
int disk_task_resume(DiskTask *task, int disk, QString *error = nullptr);
/*
 * Load the task file the record names, as create and resume do before they start the
 * worker: its file list into a new `run` (the file left open for the worker) and its
 * counters into the record. False with the reason in `error` when it cannot be opened or
 * is damaged; the task is then unchanged.
 */
bool disk_task_load(DiskTask *task, QString *error);
/* Clear running and wait for the worker to end its current file. 0. */
int disk_task_stop(DiskTask *task, int disk);

/* Counters any thread may read while the worker runs. */
int disk_task_done(const DiskTask *task);
int disk_task_planned(const DiskTask *task);
bool disk_task_running(const DiskTask *task);
bool disk_task_finished(const DiskTask *task);
/* Why the task ended early; empty when it did not. */
QString disk_task_error(const DiskTask *task);

/* Copy `text` (UTF-8) into a record field; false when it does not fit. */
bool disk_task_set_text(char (&field)[256], const QString &text);

#endif
