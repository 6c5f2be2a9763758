/*
 * Whether a lens card may be cleared without losing a file. A card is safe
 * when every file under its DCIM folder (all sub-folders) has a line in an
 * offload record with verified=true that names this card (its file-system
 * UUID), the same path on the card, the same size and modification time, and
 * whose copy still stands in its save folder with the recorded size. Only the
 * card's folders are listed and its files stat'ed; their bytes are not read.
 * Widget-free: `orvex-cli verify --cards` and the clearing both ask it.
 */
#ifndef CARDS_CARDSAFETY_H
#define CARDS_CARDSAFETY_H

#include "dataservice/OffloadRecord.h"
#include "platform/VolumeQuery.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

/* A file on a card as listed: path relative to the card's root, size, modification time. */
struct CardFile {
    QString path;
    qint64 size = 0;
    OffloadRecord::FileTime mtime;
};

struct UnsafeFile {
    enum Reason {
        NeverOffloaded, /* no record line names this card and path */
        Changed,        /* lines name it, but with another size or modification time */
        NotReadBack,    /* its copy was made with read-back off */
        CopyMissing,    /* verified once, but the copy is gone or has another size now */
    };
    QString path;
    Reason reason = NeverOffloaded;
    QString detail; /* for people: what differs */
};

/* The answer for one card. */
struct CardVerdict {
    int disk = -1; /* the lens (LensTable) */
    Volume volume;
    QString uuid;
    int files = 0; /* under DCIM */
    int safe = 0;
    QList<UnsafeFile> unsafe;
    QString error; /* the card could not be judged (no UUID, a folder unreadable) */

    bool isSafe() const { return error.isEmpty() && unsafe.isEmpty(); }
};

/* The file lines of the records consulted, each with the save folder its copy lies in. */
struct RecordedCopies {
    struct Copy {
        OffloadRecord::FileLine line;
        QString saveDir;
    };
    QList<Copy> copies;  /* per save folder, only the last line for each copy */
    QStringList records; /* the record files read */
    QStringList notes;   /* records missing or unreadable, lines skipped */
};

namespace CardSafety {

/* "never offloaded", "changed since", "not read back", "copy missing" */
QString reasonText(UnsafeFile::Reason reason);

/*
 * The records of the last transfer's save folder (Taskconfig.xml in
 * `dataDir`) and of `saveFolders`, each folder read once.
 */
RecordedCopies loadRecords(const QString &dataDir, const QStringList &saveFolders);

/*
 * Every file under the DCIM folder (any case) of the card mounted at
 * `mountPath`, at any depth; none when there is no DCIM folder. Nothing, with
 * `error`, when a folder cannot be listed or a file not stat'ed.
 */
std::optional<QList<CardFile>> listFiles(const QString &mountPath, QString *error);

/* Judge listed files of the card with file-system UUID `uuid` against the records. */
CardVerdict judge(const QString &uuid, const QList<CardFile> &files, const RecordedCopies &records);

/* List and judge the mounted card `volume` of lens `disk`. */
CardVerdict check(const Volume &volume, int disk, const RecordedCopies &records);

} // namespace CardSafety

#endif
