/*
 * The guard in front of every card format: a volume is formatted only when it
 * is, beyond doubt, the camera card of the lens it is to be cleared for.
 * Gathering the facts about a volume (mount table, sysfs, labels, folders) is
 * kept apart from the decision over them, which is a pure function.
 */
#ifndef CARDS_CARDGUARD_H
#define CARDS_CARDGUARD_H

#include "platform/VolumeQuery.h"

#include <QString>
#include <QStringList>

/* What the guard knows about a volume it is asked to let through. */
struct CardFacts {
    /* How the volume's disk is attached. */
    enum class Attachment {
        None,      /* not mounted from a block device at all */
        Fixed,     /* an internal disk */
        Removable, /* the disk says it is removable (sysfs removable = 1) */
        Mmc,       /* an SD/MMC card (mmcblk) */
        Usb,       /* a disk attached over USB */
        Loop,      /* a loop device */
    };

    int disk = -1; /* the lens it is to be cleared for (LensTable) */
    QString mountPath;
    QString device;
    QString label;         /* read from the device itself, never the folder's name */
    bool ownMount = false; /* mountPath is the mount point of the whole file system on device */
    bool hasAvfInfo = false;
    Attachment attachment = Attachment::None;
    bool readOnly = false;     /* the device or its disk is write-protected */
    QString systemFolder;      /* the system folder it is mounted at ("/boot"), else empty */
    bool onSystemDisk = false; /* on the disk that holds / or /home */
    QStringList holds;         /* which of the program, home, save and data folders it holds */
};

namespace CardGuard {

/*
 * The facts about `volume` as the card of lens `disk`. `saveFolder` (where
 * the offload writes) and `dataDir` (where the card files are kept) may be
 * empty or not exist yet. Reads only; changes nothing.
 */
CardFacts gather(const Volume &volume, int disk, const QString &saveFolder, const QString &dataDir);

/*
 * Why the card must not be formatted, naming the lens, the mount path and the
 * device and giving every reason found ("; " between them); empty when it may.
 */
QString refusal(const CardFacts &facts);

/* gather, then refusal. */
QString check(const Volume &volume, int disk, const QString &saveFolder, const QString &dataDir);

} // namespace CardGuard

#endif
