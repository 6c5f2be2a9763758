/* orvex-cli verify: the verified offload's checks of a save folder and of the lens cards. */
#include "CliArgs.h"
#include "CliOutput.h"
#include "Commands.h"
#include "cards/CardSafety.h"
#include "dataservice/FileHash.h"
#include "dataservice/LensTable.h"
#include "dataservice/OffloadRecord.h"
#include "platform/AppPaths.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

using CliOutput::fail;

const char verifyUsage[] =
    "usage: orvex-cli verify SAVE_DIR [--json]\n"
    "       orvex-cli verify --cards [--save DIR]... [--json]\n"
    "Re-read from the disk every copy and zip volume that the offload record of SAVE_DIR\n"
    "(offload-record.jsonl) lists, and report per lens the files matched, mismatched, missing\n"
    "and unreadable, naming each one that is not matched. Nothing in SAVE_DIR is written: a\n"
    "read-only save folder verifies as well. Exit 0 only when every one matched.\n"
    "--cards: for each mounted lens card, the files under its DCIM folder that have a verified\n"
    "copy in the offload records of the last transfer's save folder and of each --save DIR\n"
    "(same card, path, size and time; the copy still there), and those that have none, named\n"
    "with why. The cards are only listed, not read. Exit 0 only when every card is safe to\n"
    "clear.\n";

/* What became of the copies of one kind (files or volumes) of one lens. */
struct Tally {
    int matched = 0;
    int mismatched = 0;
    int missing = 0;
    int unreadable = 0;

    int bad() const { return mismatched + missing + unreadable; }
    QJsonObject json() const
    {
        return {{QStringLiteral("matched"), matched},
                {QStringLiteral("mismatched"), mismatched},
                {QStringLiteral("missing"), missing},
                {QStringLiteral("unreadable"), unreadable}};
    }
    QString text() const
    {
        QString text = QStringLiteral("%1 matched, %2 mismatched, %3 missing")
                           .arg(matched)
                           .arg(mismatched)
                           .arg(missing);
        if (unreadable)
            text += QStringLiteral(", %1 unreadable").arg(unreadable);
        return text;
    }
};

struct LensReport {
    Tally files;
    Tally volumes;
    QJsonArray bad;
};

/* One copy or volume to read back. */
struct Item {
    int disk;
    bool volume;
    QString path; /* relative to the save folder */
    qint64 size;
    quint64 hash;
};

/* The last line for each copy and each volume, in record order. */
QList<Item> itemsOf(const OffloadRecord::Contents &record)
{
    QList<Item> items;
    QHash<QString, qsizetype> at;
    const auto add = [&](const Item &item) {
        const QString key = (item.volume ? QStringLiteral("v:") : QStringLiteral("f:")) + item.path;
        if (const auto known = at.constFind(key); known != at.cend()) {
            items[*known] = item;
            return;
        }
        at.insert(key, items.size());
        items.append(item);
    };
    for (const OffloadRecord::FileLine &line : record.files)
        add({line.disk, false, line.copy, line.copySize, line.copyHash});
    for (const OffloadRecord::VolumeLine &line : record.volumes)
        add({line.disk, true, line.volume, line.size, line.hash});
    return items;
}

int verifySaveFolder(const QString &saveDir, bool json)
{
    const QString recordPath = OffloadRecord::pathIn(saveDir);
    QString error;
    const std::optional<OffloadRecord::Contents> record = OffloadRecord::read(recordPath, &error);
    if (!record)
        return fail(error);
    const QList<Item> items = itemsOf(*record);
    qint64 total = 0;
    for (const Item &item : items)
        total += item.size;

    std::array<LensReport, LensTable::count> lenses;
    std::array<bool, LensTable::count> listed{};
    ProgressReporter progress(QStringLiteral("verify"), QStringLiteral("bytes"));
    qint64 before = 0;
    for (const Item &item : items) {
        listed[item.disk] = true;
        LensReport &lens = lenses[item.disk];
        Tally &tally = item.volume ? lens.volumes : lens.files;
        int err = 0;
        const std::optional<quint64> hash =
            FileHash::coldFile(saveDir + QLatin1Char('/') + item.path, &err, [&](qint64 read) {
                progress.update(before + read, total);
                return !CliOutput::interrupted();
            });
        before += item.size;
        QString problem;
        QString detail;
        if (hash && *hash == item.hash) {
            ++tally.matched;
            continue;
        }
        if (err == ECANCELED) {
            progress.finish();
            return fail(QStringLiteral("interrupted"), CliOutput::Interrupted);
        }
        if (hash) {
            ++tally.mismatched;
            problem = QStringLiteral("mismatched");
            detail = QStringLiteral("read %1, recorded %2")
                         .arg(FileHash::hex(*hash), FileHash::hex(item.hash));
        } else if (err == ENOENT || err == ENOTDIR) {
            ++tally.missing;
            problem = QStringLiteral("missing");
            detail = QStringLiteral("not in the save folder");
        } else {
            ++tally.unreadable;
            problem = QStringLiteral("unreadable");
            detail = QString::fromLocal8Bit(std::strerror(err));
        }
        lens.bad.append(QJsonObject{{QStringLiteral("path"), item.path},
                                    {QStringLiteral("kind"), item.volume ? QStringLiteral("volume")
                                                                         : QStringLiteral("file")},
                                    {QStringLiteral("problem"), problem},
                                    {QStringLiteral("detail"), detail}});
        progress.finish();
        fail(QStringLiteral("%1 %2: %3 (%4)")
                 .arg(LensTable::lens(item.disk).key, item.path, problem, detail));
    }
    progress.finish();

    bool ok = true;
    QJsonArray lensList;
    for (int disk = 0; disk < LensTable::count; ++disk) {
        if (!listed[disk])
            continue;
        const LensReport &lens = lenses[disk];
        ok = ok && lens.files.bad() == 0 && lens.volumes.bad() == 0;
        lensList.append(QJsonObject{{QStringLiteral("lens"), LensTable::lens(disk).key},
                                    {QStringLiteral("files"), lens.files.json()},
                                    {QStringLiteral("volumes"), lens.volumes.json()},
                                    {QStringLiteral("bad"), lens.bad}});
        if (!json)
            CliOutput::line(
                QStringLiteral("%1: files %2%3")
                    .arg(LensTable::lens(disk).key, lens.files.text(),
                         lens.volumes.matched + lens.volumes.bad() == 0
                             ? QString()
                             : QStringLiteral("; volumes %1").arg(lens.volumes.text())));
    }
    const int skipped = record->garbage + record->foreign;
    if (skipped > 0) {
        ok = false;
        fail(QStringLiteral("%1: %2 lines are unreadable or of another version; what they list "
                            "was not checked")
                 .arg(recordPath)
                 .arg(skipped));
    }
    if (!json && record->torn)
        CliOutput::line(QStringLiteral("the record's last line was cut short (an interrupted "
                                       "transfer) and is not counted"));
    if (!json && items.isEmpty())
        CliOutput::line(QStringLiteral("the record lists no copies"));
    if (json)
        CliOutput::json(
            {{QStringLiteral("save"), saveDir},
             {QStringLiteral("record"), recordPath},
             {QStringLiteral("lenses"), lensList},
             {QStringLiteral("skipped"), QJsonObject{{QStringLiteral("torn"), record->torn},
                                                     {QStringLiteral("garbage"), record->garbage},
                                                     {QStringLiteral("foreign"), record->foreign}}},
             {QStringLiteral("ok"), ok}});
    else if (ok)
        CliOutput::line(QStringLiteral("every copy matched its record"));
    return ok ? CliOutput::Done : CliOutput::Failed;
}

QJsonObject verdictJson(const CardVerdict &verdict)
{
    QJsonArray unsafe;
    for (const UnsafeFile &file : verdict.unsafe)
        unsafe.append(QJsonObject{{QStringLiteral("path"), file.path},
                                  {QStringLiteral("reason"), CardSafety::reasonText(file.reason)},
                                  {QStringLiteral("detail"), file.detail}});
    return {{QStringLiteral("lens"), LensTable::lens(verdict.disk).key},
            {QStringLiteral("label"), verdict.volume.label},
            {QStringLiteral("drive"), verdict.volume.mountPath},
            {QStringLiteral("device"), verdict.volume.device},
            {QStringLiteral("uuid"), verdict.uuid},
            {QStringLiteral("files"), verdict.files},
            {QStringLiteral("safe"), verdict.safe},
            {QStringLiteral("unsafe"), int(verdict.unsafe.size())},
            {QStringLiteral("unsafe_files"), unsafe},
            {QStringLiteral("error"),
             verdict.error.isEmpty() ? QJsonValue() : QJsonValue(verdict.error)},
            {QStringLiteral("ok"), verdict.isSafe()}};
}

int verifyCards(const QStringList &saveFolders, bool json)
{
    const RecordedCopies records = CardSafety::loadRecords(AppPaths::dataDir(), saveFolders);
    for (const QString &note : records.notes)
        fail(note);
    bool ok = true;
    QJsonArray cards;
    for (const Volume &volume : VolumeQuery::mountedVolumes()) {
        const int disk = LensTable::diskForLabel(volume.label);
        if (disk < 0)
            continue;
        const CardVerdict verdict = CardSafety::check(volume, disk, records);
        ok = ok && verdict.isSafe();
        cards.append(verdictJson(verdict));
        const QString card = QStringLiteral("%1 (%2, %3)")
                                 .arg(LensTable::lens(disk).key, volume.label, volume.mountPath);
        if (!verdict.error.isEmpty()) {
            fail(QStringLiteral("%1: cannot tell whether it is safe to clear: %2")
                     .arg(card, verdict.error));
            continue;
        }
        if (!verdict.isSafe())
            fail(QStringLiteral("%1: %2 of %3 files under DCIM have no verified copy")
                     .arg(card)
                     .arg(verdict.unsafe.size())
                     .arg(verdict.files));
        if (json)
            continue;
        CliOutput::line(QStringLiteral("%1: %2 files under DCIM, %3 with a verified copy, %4 "
                                       "without%5")
                            .arg(card)
                            .arg(verdict.files)
                            .arg(verdict.safe)
                            .arg(verdict.unsafe.size())
                            .arg(verdict.isSafe() ? QStringLiteral("; safe to clear") : QString()));
        for (const UnsafeFile &file : verdict.unsafe)
            CliOutput::line(QStringLiteral("  %1: %2 (%3)")
                                .arg(file.path, CardSafety::reasonText(file.reason), file.detail));
    }
    if (json)
        CliOutput::json({{QStringLiteral("cards"), cards},
                         {QStringLiteral("records"), QJsonArray::fromStringList(records.records)},
                         {QStringLiteral("notes"), QJsonArray::fromStringList(records.notes)},
                         {QStringLiteral("ok"), ok}});
    else if (cards.isEmpty())
        CliOutput::line(QStringLiteral("no lens card found"));
    return ok ? CliOutput::Done : CliOutput::Failed;
}

} // namespace

int runVerify(const QStringList &words)
{
    return runCommand(
        words,
        {{QStringLiteral("json"), false},
         {QStringLiteral("cards"), false},
         {QStringLiteral("save"), true}},
        verifyUsage, true, [](const CliArgs &args) {
            const bool json = args.has(QStringLiteral("json"));
            if (args.has(QStringLiteral("cards"))) {
                if (!args.positionals().isEmpty())
                    return fail(QStringLiteral("verify --cards takes no SAVE_DIR; give --save DIR"),
                                CliOutput::Usage);
                return verifyCards(args.values(QStringLiteral("save")), json);
            }
            if (args.has(QStringLiteral("save")))
                return fail(QStringLiteral("--save goes with --cards"), CliOutput::Usage);
            if (args.positionals().size() != 1)
                return fail(QStringLiteral("verify needs one SAVE_DIR (or --cards)"),
                            CliOutput::Usage);
            const QString saveDir = args.positionals().first();
            if (!QFileInfo(saveDir).isDir())
                return fail(QStringLiteral("%1 is no folder").arg(saveDir));
            return verifySaveFolder(saveDir, json);
        });
}
