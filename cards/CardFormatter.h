/*
 * Formatting one card as exFAT with a label and mounting it again. Two ways:
 * with the file-system tools (as root, or where udisks2 is not running):
 * unmount, mkfs.exfat on the card's own block device, mount again at the same
 * place with the same kind of driver; or, on a desktop without root, through
 * udisks2 on the system bus. Neither asks whether the volume may be
 * formatted: the caller has asked the guard (CardGuard) just before.
 */
#ifndef CARDS_CARDFORMATTER_H
#define CARDS_CARDFORMATTER_H

#include "platform/VolumeQuery.h"

#include <QString>

namespace CardFormatter {

enum class Way {
    Auto,   /* Tools as root or without udisks2, else UDisks */
    Tools,  /* umount, mkfs.exfat, mount (root) */
    UDisks, /* udisks2 over D-Bus: Unmount, Format, Mount */
};

/*
 * Format `card` (its device and mount path as the mount table has them) as
 * exFAT labelled `label` and mount it again; `mountPath` gets where it is
 * mounted now. Every child process has a time-out and is killed when it
 * passes it. False with `error` naming the failing step and carrying the
 * tool's own message; after a failed mkfs the card is mounted again as it was
 * when it can be. Blocks; safe from a worker thread.
 */
bool format(const Volume &card, const QString &label, QString *mountPath, QString *error,
            Way way = Way::Auto);

/* The way Auto takes on this machine now. */
Way autoWay();

/* Whether udisks2 answers on the system bus (CardFormatterUDisks.cpp). */
bool udisksAvailable();

/* The udisks2 way alone (CardFormatterUDisks.cpp). */
bool formatWithUDisks(const Volume &card, const QString &label, QString *mountPath, QString *error);

} // namespace CardFormatter

#endif
