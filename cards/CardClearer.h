/*
 * Clearing the lens cards: each card found by its label is checked by the
 * guard, its own card files (the still camera's AVF_INFO and PRIVATE files)
 * are read, it is formatted as exFAT with its lens's label, mounted again
 * and given its card files back. Widget-free: the clearing page and
 * `orvex-cli clear` both drive it.
 */
#ifndef CARDS_CARDCLEARER_H
#define CARDS_CARDCLEARER_H

#include "CardSafety.h"
#include "platform/VolumeQuery.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

/* A card the clearer may act on, as surveyed before anything is asked. */
struct ClearCard {
    int disk = -1;           /* the lens (LensTable) */
    Volume volume;           /* mount path, device, label as found */
    int photos = 0;          /* files below the card's DCIM folder */
    int notTransferred = -1; /* of them, the ones the last completed transfer does not hold;
                                -1 when there is no completed transfer to compare with */
    QString refusal;         /* why the guard refuses the card; empty when it may be cleared */
    CardVerdict safety;      /* whether every file under DCIM has a verified copy (isSafe());
                                a card that could not be judged carries the reason in error */
};

/* What became of one card. */
struct ClearOutcome {
    int disk = -1;
    bool ok = false;
    QString reason;    /* why it failed, naming the card; empty when ok */
    QString mountPath; /* where the card is mounted after its format; empty before */
};

namespace CardClearer {

/*
 * The still cameras' card files that each card must hold after a clearing,
 * relative to its root: PRIVATE/SONY/SONYCARD.IND and four in AVF_INFO.
 */
const QStringList &cardFiles();

/*
 * The lens cards among the mounted volumes, one per lens in disk order
 * (only the lenses in `disks` when it is not empty), each with its guard's
 * verdict, its photo counts and its safety verdict against the offload
 * records of the last transfer's save folder and of `saveFolder`. Two volumes carrying one lens's
 * label are both listed and both refused: which one is the card cannot be told. `saveFolder` is the
 * folder the offload writes to (its volume is never a card); `dataDir` holds Taskconfig.xml and the
 * photo information files of the last transfer.
 */
QList<ClearCard> survey(const QList<int> &disks, const QString &saveFolder, const QString &dataDir);

/*
 * The replacement card-file folder "K4相机替换文件": the one in the data folder
 * when a user put one there, else the one shipped beside the program or in
 * the installed data folder. Empty with `why` (naming where it was looked
 * for) when there is none.
 */
QString replacementFolder(const QString &dataDir, QString *why);

/* The save folder of the last transfer (Taskconfig.xml): its volume is never a card. */
QString lastSaveFolder(const QString &dataDir);

/* Progress of a clearing: the lens and what is being done to its card now. */
using Progress = std::function<void(int disk, const QString &step)>;

/*
 * Clear the cards the guard lets through, one after another; refused cards
 * are reported and left untouched. The guard is asked again for each card
 * just before its format. Blocks until every card is done.
 */
QList<ClearOutcome> clear(const QList<ClearCard> &cards, const QString &saveFolder,
                          const QString &dataDir, const Progress &progress = {});

} // namespace CardClearer

#endif
