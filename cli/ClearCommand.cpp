/* orvex-cli clear: the clearing page's work from a terminal. */
#include "CliArgs.h"
#include "CliOutput.h"
#include "Commands.h"
#include "cards/CardClearer.h"
#include "dataservice/LensTable.h"
#include "platform/AppPaths.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>

namespace {

using CliOutput::fail;

const char clearUsage[] =
    "usage: orvex-cli clear [--lens LENS]... [--yes] [--json]\n"
    "Format the lens cards as exFAT, each labelled with its lens, in the order Center, Left,\n"
    "Right, Back, Front, and give each card back its own card files (PRIVATE/SONY/SONYCARD.IND\n"
    "and the four AVF_INFO files), adding from the replacement folder K4相机替换文件 those it\n"
    "lacked. The card files are kept in the data folder (cardfiles/LENS) before the format.\n"
    "LENS is center, left, right, front or back; without --lens every card found is cleared.\n"
    "A volume that is not beyond doubt its lens's camera card (its label, an AVF_INFO folder,\n"
    "a removable, SD, USB or loop device, no system volume, not write-protected) is refused\n"
    "and left untouched. Without --yes the cards are listed with the photos the last completed\n"
    "transfer does not hold, and the question is asked on the terminal. Exit 0 only when every\n"
    "card asked for was cleared.\n";

QString photosText(const ClearCard &card)
{
    const QString photos = QStringLiteral("%1 photos").arg(card.photos);
    if (card.notTransferred < 0)
        return photos + QStringLiteral(", no completed transfer to compare with");
    return photos +
           QStringLiteral(", %1 not in the last completed transfer").arg(card.notTransferred);
}

QJsonObject cardJson(const ClearCard &card)
{
    return {{QStringLiteral("lens"), LensTable::lens(card.disk).key},
            {QStringLiteral("label"), card.volume.label},
            {QStringLiteral("drive"), card.volume.mountPath},
            {QStringLiteral("device"), card.volume.device},
            {QStringLiteral("photos"), card.photos},
            {QStringLiteral("not_transferred"), card.notTransferred},
            {QStringLiteral("refusal"),
             card.refusal.isEmpty() ? QJsonValue() : QJsonValue(card.refusal)}};
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
        CliOutput::line(QStringLiteral("%1  %2  %3  %4  %5")
                            .arg(LensTable::lens(card.disk).key, -6)
                            .arg(card.volume.label, -6)
                            .arg(card.volume.mountPath, card.volume.device, photosText(card)));
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

    const QList<ClearOutcome> outcomes =
        CardClearer::clear(cards, saveFolder, dataDir, [](int disk, const QString &step) {
            std::fprintf(stderr, "%s: %s\n", LensTable::lens(disk).key.toUtf8().constData(),
                         step.toUtf8().constData());
        });
    QJsonArray cleared;
    for (const ClearOutcome &outcome : outcomes) {
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
                       {QStringLiteral("lens"), true}},
                      clearUsage, false, runClearCommand);
}
