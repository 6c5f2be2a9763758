/* orvex-cli clear: the clearing page's work from a terminal. */
#include "CliArgs.h"
#include "CliOutput.h"
#include "Commands.h"
#include "cards/CardClearer.h"
#include "dataservice/LensTable.h"
#include "platform/AppPaths.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

namespace {

using CliOutput::fail;

const char clearUsage[] =
    "usage: orvex-cli clear [--lens LENS]... [--yes [--force]] [--json]\n"
    "Format the lens cards as exFAT, each labelled with its lens, in the order Center, Left,\n"
    "Right, Back, Front, and give each card back its own card files (PRIVATE/SONY/SONYCARD.IND\n"
    "and the four AVF_INFO files), adding from the replacement folder K4相机替换文件 those it\n"
    "lacked. The card files are kept in the data folder (cardfiles/LENS) before the format.\n"
    "LENS is center, left, right, front or back; without --lens every card found is cleared.\n"
    "A volume that is not beyond doubt its lens's camera card (its label, an AVF_INFO folder,\n"
    "a removable, SD, USB or loop device, no system volume, not write-protected) is refused\n"
    "and left untouched.\n"
    "A card is safe to clear when every file under its DCIM folder has a copy that was read\n"
    "back from the disk and matched, as the offload record in the last transfer's save folder\n"
    "says. With --yes a card is cleared only when it is safe: one that is not, or that cannot\n"
    "be judged, is left untouched and named on standard error (see orvex-cli verify --cards),\n"
    "while the safe cards are cleared; --force clears unsafe cards too. Without --yes the cards\n"
    "are listed, each with whether it is safe and the photos the last completed transfer does\n"
    "not hold, and the question is asked on the terminal (default no). Exit 0 only when every\n"
    "card asked for was cleared.\n";

QString photosText(const ClearCard &card)
{
    const QString photos = QStringLiteral("%1 photos").arg(card.photos);
    if (card.notTransferred < 0)
        return photos + QStringLiteral(", no completed transfer to compare with");
    return photos +
           QStringLiteral(", %1 not in the last completed transfer").arg(card.notTransferred);
}

/* Unsafe files named in --json per card; the count says how many there are in all. */
constexpr qsizetype unsafeListed = 20;

/* "safe", "3 files without a verified copy" or why the card could not be judged. */
QString safetyText(const CardVerdict &safety)
{
    if (!safety.error.isEmpty())
        return QStringLiteral("cannot be judged: %1").arg(safety.error);
    if (safety.isSafe())
        return QStringLiteral("safe");
    const qsizetype count = safety.unsafe.size();
    return QStringLiteral("%1 %2 without a verified copy")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("file") : QStringLiteral("files"));
}

QJsonObject cardJson(const ClearCard &card)
{
    QJsonArray unverified;
    for (const UnsafeFile &file :
         card.safety.unsafe.first(std::min(card.safety.unsafe.size(), unsafeListed)))
        unverified.append(
            QJsonObject{{QStringLiteral("path"), file.path},
                        {QStringLiteral("reason"), CardSafety::reasonText(file.reason)}});
    const bool judged = card.safety.error.isEmpty();
    return {
        {QStringLiteral("lens"), LensTable::lens(card.disk).key},
        {QStringLiteral("label"), card.volume.label},
        {QStringLiteral("drive"), card.volume.mountPath},
        {QStringLiteral("device"), card.volume.device},
        {QStringLiteral("photos"), card.photos},
        {QStringLiteral("not_transferred"), card.notTransferred},
        {QStringLiteral("refusal"),
         card.refusal.isEmpty() ? QJsonValue() : QJsonValue(card.refusal)},
        {QStringLiteral("safe"), card.safety.isSafe()},
        {QStringLiteral("unverified"), judged ? int(card.safety.unsafe.size()) : -1},
        {QStringLiteral("unverified_files"), unverified},
        {QStringLiteral("safety_error"), judged ? QJsonValue() : QJsonValue(card.safety.error)}};
}

int runClearCommand(const CliArgs &args)
{
    const bool json = args.has(QStringLiteral("json"));
    QList<int> disks;
    for (const QString &name : args.values(QStringLiteral("lens"))) {
        const int disk = LensTable::diskForName(name);
        if (disk < 0)
            return fail(
                QStringLiteral("--lens %1: give one of center, left, right, front, back").arg(name),
                CliOutput::Usage);
        if (!disks.contains(disk))
            disks << disk;
    }
    const QString dataDir = AppPaths::dataDir();
    const QString saveFolder = CardClearer::lastSaveFolder(dataDir);
    const QList<ClearCard> cards = CardClearer::survey(disks, saveFolder, dataDir);

    int status = CliOutput::Done;
    for (int disk : std::as_const(disks))
        if (std::none_of(cards.cbegin(), cards.cend(),
                         [disk](const ClearCard &card) { return card.disk == disk; }))
            status = fail(QStringLiteral("lens %1: no card found").arg(LensTable::lens(disk).key));
    if (cards.isEmpty()) {
        if (json)
            CliOutput::json({{QStringLiteral("cards"), QJsonArray()},
                             {QStringLiteral("cleared"), QJsonArray()},
                             {QStringLiteral("ok"), false}});
        return disks.isEmpty() ? fail(QStringLiteral("no lens card found")) : status;
    }

    QJsonArray listed;
    for (const ClearCard &card : cards) {
        listed.append(cardJson(card));
        if (json)
            continue;
        CliOutput::line(QStringLiteral("%1  %2  %3  %4  %5  %6")
                            .arg(LensTable::lens(card.disk).key, -6)
                            .arg(card.volume.label, -6)
                            .arg(card.volume.mountPath, card.volume.device, photosText(card),
                                 safetyText(card.safety)));
        if (!card.refusal.isEmpty())
            CliOutput::line(QStringLiteral("  refused: %1").arg(card.refusal));
    }
    const bool anyClearable = std::any_of(
        cards.cbegin(), cards.cend(), [](const ClearCard &card) { return card.refusal.isEmpty(); });
    QJsonObject document{{QStringLiteral("cards"), listed}};
    if (!anyClearable || (!args.has(QStringLiteral("yes")) &&
                          !CliOutput::confirm(QStringLiteral("Erase these cards?")))) {
        status = fail(anyClearable ? QStringLiteral("nothing erased")
                                   : QStringLiteral("no card may be cleared; nothing erased"));
        document.insert(QStringLiteral("cleared"), QJsonArray());
        document.insert(QStringLiteral("ok"), false);
        if (json)
            CliOutput::json(document);
        return status;
    }

    /* Unattended, a card that is not safe is kept as it is unless --force says otherwise. */
    QList<ClearCard> toClear;
    QList<ClearOutcome> outcomes;
    for (const ClearCard &card : cards) {
        if (!card.refusal.isEmpty() || card.safety.isSafe() || !args.has(QStringLiteral("yes")) ||
            args.has(QStringLiteral("force"))) {
            toClear << card;
            continue;
        }
        ClearOutcome kept;
        kept.disk = card.disk;
        kept.reason =
            QStringLiteral("%1 (%2): %3; not cleared (run `orvex-cli verify --cards`, "
                           "or give --force to clear anyway)")
                .arg(LensTable::lens(card.disk).key, card.volume.label, safetyText(card.safety));
        outcomes << kept;
    }
    outcomes << CardClearer::clear(toClear, saveFolder, dataDir, [](int disk, const QString &step) {
        std::fprintf(stderr, "%s: %s\n", LensTable::lens(disk).key.toUtf8().constData(),
                     step.toUtf8().constData());
    });
    QJsonArray cleared;
    for (const ClearOutcome &outcome : std::as_const(outcomes)) {
        const QString key = LensTable::lens(outcome.disk).key;
        cleared.append(
            QJsonObject{{QStringLiteral("lens"), key},
                        {QStringLiteral("ok"), outcome.ok},
                        {QStringLiteral("drive"), outcome.mountPath},
                        {QStringLiteral("reason"),
                         outcome.reason.isEmpty() ? QJsonValue() : QJsonValue(outcome.reason)}});
        if (!outcome.ok)
            status = fail(outcome.reason);
        else if (!json)
            CliOutput::line(QStringLiteral("%1: cleared, card files restored (%2)")
                                .arg(key, outcome.mountPath));
    }
    document.insert(QStringLiteral("cleared"), cleared);
    document.insert(QStringLiteral("ok"), status == CliOutput::Done);
    if (json)
        CliOutput::json(document);
    return status;
}

} // namespace

int runClear(const QStringList &words)
{
    return runCommand(words,
                      {{QStringLiteral("json"), false},
                       {QStringLiteral("yes"), false},
                       {QStringLiteral("force"), false},
                       {QStringLiteral("lens"), true}},
                      clearUsage, false, runClearCommand);
}
