/* orvex-cli cards and offload: the image data page's work from a terminal. */
#include "CameraSession.h"
#include "CliArgs.h"
#include "CliOutput.h"
#include "Commands.h"
#include "cards/CardSpace.h"
#include "dataservice/CardFinder.h"
#include "dataservice/LensTable.h"
#include "dataservice/OffloadController.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

namespace {

using CliOutput::fail;

const char cardsUsage[] =
    "usage: orvex-cli cards [--json]\n"
    "The lens cards among the mounted volumes, found by their labels (Center, Left, Right,\n"
    "Front, Back): lens, label, drive (mount folder), device, photo folder (the DCIM folder\n"
    "that holds its photos), photos, bytes, free and total space.\n";

const char offloadUsage[] =
    "usage: orvex-cli offload --save DIR [--lens LENS=FOLDER]... [--pos TABLE]... [--sorties]\n"
    "                         [--split SIZE{GB,MB}] [--password PW | --password-file FILE]\n"
    "                         [--no-verify] [--json]\n"
    "       orvex-cli offload --resume [--no-verify] [--json]\n"
    "Copy the lens cards into DIR/Center, DIR/Left, ... with five workers in parallel,\n"
    "writing each photo's position from the POS tables into the copy's EXIF (the k-th photo\n"
    "of a lens gets the k-th record of the tables, taken in the order given). The cards are\n"
    "only read. LENS is center, left, right, front or back; without --lens every card found\n"
    "is offloaded from its photo folder. Photo information files go to the data folder.\n"
    "SIGINT or SIGTERM stops the workers between photos (exit 130). At the end it prints per\n"
    "lens the photos planned, done, geotagged and skipped, and the files written.\n"
    "--sorties writes one BlocksExchange file per POS table (\"第N架次.xml\") into DIR at the "
    "end;\n"
    "--split packs each lens's photos also into zip volumes pack1.zip, pack2.zip ... of at most\n"
    "SIZE, encrypted with the password when one is given (printable ASCII). Taskconfig.xml in the\n"
    "data folder records the transfer; --resume continues an unfinished one with its own "
    "options.\n"
    "Every copy is verified: the XXH64 of the bytes read from the card and of the bytes written\n"
    "are taken on the way, the copy is synced and read back from the disk and must match; a\n"
    "mismatch copies the file again once, a second one stops the lens. Zip volumes are tested\n"
    "(every entry read back and its CRC-32 checked) when closed. Each verified file gets a line\n"
    "in DIR/offload-record.jsonl, and each lens folder an XXH64SUMS list that `xxhsum -c\n"
    "XXH64SUMS` checks in that folder. A card is safe to clear only when every file under its\n"
    "DCIM folder has a verified line (orvex-cli verify --cards). --no-verify skips the\n"
    "read-back: the hashes are still recorded, marked as not read back, and such copies make\n"
    "no card safe to clear.\n";

QJsonObject cardJson(const Card &card)
{
    qint64 free = -1;
    qint64 total = -1;
    CardSpace::measure(card.volume.mountPath, &free, &total);
    return {{QStringLiteral("lens"), LensTable::lens(card.disk).key},
            {QStringLiteral("label"), card.volume.label},
            {QStringLiteral("drive"), card.volume.mountPath},
            {QStringLiteral("device"), card.volume.device},
            {QStringLiteral("photo_folder"), card.photoFolder},
            {QStringLiteral("photos"), card.photos},
            {QStringLiteral("bytes"), card.bytes},
            {QStringLiteral("free"), free},
            {QStringLiteral("total"), total}};
}

int runCardsCommand(const CliArgs &args)
{
    QStringList notes;
    const QList<Card> cards = CardFinder::find(VolumeQuery::mountedVolumes(), &notes);
    for (const QString &note : std::as_const(notes))
        fail(note);
    QJsonArray list;
    for (const Card &card : cards) {
        const QJsonObject fields = cardJson(card);
        list.append(fields);
        const qint64 free = fields[QStringLiteral("free")].toInteger();
        const qint64 total = fields[QStringLiteral("total")].toInteger();
        if (!args.has(QStringLiteral("json")))
            CliOutput::line(QStringLiteral("%1  %2  %3  %4  %5 photos, %6 MB, %7")
                                .arg(LensTable::lens(card.disk).key, -6)
                                .arg(card.volume.label, card.volume.mountPath,
                                     card.photoFolder.isEmpty() ? QStringLiteral("(no photos)")
                                                                : card.photoFolder)
                                .arg(card.photos)
                                .arg(card.bytes / 1e6, 0, 'f', 1)
                                .arg(total < 0 ? QStringLiteral("space unknown")
                                               : QStringLiteral("%1 GB free of %2 GB")
                                                     .arg(free / 1e9, 0, 'f', 2)
                                                     .arg(total / 1e9, 0, 'f', 2)));
    }
    if (args.has(QStringLiteral("json")))
        CliOutput::json({{QStringLiteral("cards"), list},
                         {QStringLiteral("notes"), QJsonArray::fromStringList(notes)}});
    else if (cards.isEmpty())
        CliOutput::line(QStringLiteral("no lens card found"));
    return CliOutput::Done;
}

QJsonObject summaryJson(const LensSummary &s)
{
    QJsonArray skipped;
    for (const SkippedFile &file : s.skippedFiles)
        skipped.append(QJsonObject{{QStringLiteral("file"), file.path},
                                   {QStringLiteral("reason"), file.reason}});
    return {{QStringLiteral("lens"), LensTable::lens(s.disk).key},
            {QStringLiteral("source"), s.source},
            {QStringLiteral("folder"), s.folder},
            {QStringLiteral("planned"), s.planned},
            {QStringLiteral("done"), s.done},
            {QStringLiteral("geotagged"), s.geotagged},
            {QStringLiteral("skipped"), s.skipped},
            {QStringLiteral("skipped_files"), skipped},
            {QStringLiteral("files_written"), s.written},
            {QStringLiteral("copied"), s.copied},
            {QStringLiteral("verified"), s.verified},
            {QStringLiteral("bytes_written"), s.bytesWritten},
            {QStringLiteral("error"), s.error.isEmpty() ? QJsonValue() : QJsonValue(s.error)}};
}

int runOffloadCommand(const CliArgs &args)
{
    const bool resume = args.has(QStringLiteral("resume"));
    const QString save = args.value(QStringLiteral("save"));
    if (resume && (args.has(QStringLiteral("save")) || args.has(QStringLiteral("lens")) ||
                   args.has(QStringLiteral("pos")) || args.has(QStringLiteral("split")) ||
                   args.has(QStringLiteral("password")) || args.has(QStringLiteral("sorties")) ||
                   args.has(QStringLiteral("password-file"))))
        return fail(QStringLiteral("--resume takes the transfer's own options; give no others"),
                    CliOutput::Usage);
    if (save.isEmpty() && !resume)
        return fail(QStringLiteral("offload needs --save DIR"), CliOutput::Usage);
    const QList<Volume> volumes = VolumeQuery::mountedVolumes();
    OffloadPlan plan;
    plan.saveDir = save;
    plan.posTables = args.values(QStringLiteral("pos"));
    plan.sorties = args.has(QStringLiteral("sorties"));
    if (args.has(QStringLiteral("split"))) {
        plan.splitText = args.value(QStringLiteral("split"));
        plan.splitMiB = OffloadController::parseSize(plan.splitText);
        if (plan.splitMiB <= 0)
            return fail(QStringLiteral("--split: '%1' is no size above 0 such as 4GB or 700MB")
                            .arg(plan.splitText),
                        CliOutput::Usage);
    }
    if (args.has(QStringLiteral("password")) && args.has(QStringLiteral("password-file")))
        return fail(QStringLiteral("give --password or --password-file, not both"),
                    CliOutput::Usage);
    if (args.has(QStringLiteral("password")))
        plan.password = args.value(QStringLiteral("password")).toUtf8();
    if (args.has(QStringLiteral("password-file"))) {
        QFile file(args.value(QStringLiteral("password-file")));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("--password-file: cannot read %1: %2")
                            .arg(file.fileName(), file.errorString()));
        plan.password = file.readLine();
        while (plan.password.endsWith('\n') || plan.password.endsWith('\r'))
            plan.password.chop(1);
    }
    if ((args.has(QStringLiteral("password")) || args.has(QStringLiteral("password-file"))) &&
        !plan.password.isEmpty() && !args.has(QStringLiteral("split")))
        return fail(QStringLiteral("a password protects zip volumes: give --split too"),
                    CliOutput::Usage);
    if ((args.has(QStringLiteral("password")) || args.has(QStringLiteral("password-file"))) &&
        plan.password.isEmpty())
        return fail(QStringLiteral("the password is empty"), CliOutput::Usage);

    const QStringList lensArgs = args.values(QStringLiteral("lens"));
    if (lensArgs.isEmpty() && !resume) {
        QStringList notes;
        for (const Card &card : CardFinder::find(volumes, &notes)) {
            if (card.photoFolder.isEmpty()) {
                fail(QStringLiteral("lens %1: the card %2 has no photo folder; skipped")
                         .arg(LensTable::lens(card.disk).key, card.volume.mountPath));
                continue;
            }
            plan.sources.append({card.disk, card.photoFolder});
        }
        for (const QString &note : std::as_const(notes))
            fail(note);
    }
    for (const QString &given : lensArgs) {
        const int equals = static_cast<int>(given.indexOf(QLatin1Char('=')));
        const int disk = equals > 0 ? LensTable::diskForName(given.left(equals)) : -1;
        if (disk < 0 || equals + 1 >= given.size())
            return fail(QStringLiteral("--lens %1: give LENS=FOLDER with LENS one of center, "
                                       "left, right, front, back")
                            .arg(given),
                        CliOutput::Usage);
        for (const auto &source : std::as_const(plan.sources))
            if (source.first == disk)
                return fail(QStringLiteral("--lens %1: lens %2 given twice")
                                .arg(given, LensTable::lens(disk).key),
                            CliOutput::Usage);
        plan.sources.append({disk, given.mid(equals + 1)});
    }
    std::sort(plan.sources.begin(), plan.sources.end());

    OffloadController controller;
    QString error;
    plan.readBack = !args.has(QStringLiteral("no-verify"));
    if (resume ? !controller.resume(volumes, &error, plan.readBack)
               : !controller.prepare(plan, volumes, &error) || !controller.start(&error))
        return fail(error);
    QObject::connect(&controller, &OffloadController::problem,
                     [](const QString &message) { fail(message); });
    if (plan.posTables.isEmpty() && !resume)
        fail(QStringLiteral("no POS table given: the photos are copied without positions"));

    ProgressReporter progress(QStringLiteral("offload"), QStringLiteral("photos"));
    QObject::connect(&controller, &OffloadController::progressChanged,
                     [&progress](int done, int planned) { progress.update(done, planned); });
    QObject::connect(
        &controller, &OffloadController::lensFailed, [&progress](int disk, const QString &reason) {
            progress.finish();
            fail(QStringLiteral("lens %1 stopped: %2").arg(LensTable::lens(disk).key, reason));
        });
    bool ended = false;
    bool ok = false;
    QObject::connect(&controller, &OffloadController::finished, [&](bool allDone) {
        ended = true;
        ok = allDone;
    });
    QEventLoop loop;
    QObject::connect(&controller, &OffloadController::finished, &loop, &QEventLoop::quit);
    QTimer interrupts;
    QObject::connect(&interrupts, &QTimer::timeout, &loop, [&] {
        if (!CliOutput::interrupted())
            return;
        controller.stop();
        progress.finish();
        fail(QStringLiteral("interrupted; the workers stopped between photos"),
             CliOutput::Interrupted);
        loop.quit();
    });
    interrupts.start(50);
    if (!ended)
        loop.exec();
    progress.finish();

    QJsonArray lenses;
    for (const LensSummary &s : controller.summary()) {
        lenses.append(summaryJson(s));
        if (!args.has(QStringLiteral("json")))
            CliOutput::line(
                QStringLiteral("%1: %2 of %3 files done, %4 geotagged, %5 skipped, "
                               "%6 copied, %7 verified, %8 written to %9%10")
                    .arg(LensTable::lens(s.disk).key)
                    .arg(s.done)
                    .arg(s.planned)
                    .arg(s.geotagged)
                    .arg(s.skipped)
                    .arg(s.copied)
                    .arg(s.verified)
                    .arg(s.written)
                    .arg(s.folder, s.error.isEmpty()
                                       ? QString()
                                       : QStringLiteral(" (stopped: %1)").arg(s.error)));
        for (const SkippedFile &file : s.skippedFiles)
            if (!args.has(QStringLiteral("json")))
                CliOutput::line(QStringLiteral("  skipped %1: %2").arg(file.path, file.reason));
    }
    const bool allVerified = controller.allVerified();
    if (!args.has(QStringLiteral("json"))) {
        for (const QString &file : controller.exchangeFiles())
            CliOutput::line(QStringLiteral("BlocksExchange: %1").arg(file));
        if (ok)
            CliOutput::line(allVerified
                                ? QStringLiteral("every file has a verified copy (%1)")
                                      .arg(controller.recordPath())
                                : QStringLiteral("not every file has a verified copy: the cards "
                                                 "are not safe to clear"));
    }
    if (args.has(QStringLiteral("json")))
        CliOutput::json({{QStringLiteral("save"), controller.saveDir()},
                         {QStringLiteral("pos_records"), controller.positionCount()},
                         {QStringLiteral("lenses"), lenses},
                         {QStringLiteral("exchange_files"),
                          QJsonArray::fromStringList(controller.exchangeFiles())},
                         {QStringLiteral("record"), controller.recordPath()},
                         {QStringLiteral("all_verified"), allVerified},
                         {QStringLiteral("ok"), ok}});
    /* An interrupt that came once every lens had ended stopped nothing: the transfer completed,
     * and saying otherwise would send the operator to resume what is done. */
    if (CliOutput::interrupted() && !(ended && ok))
        return CliOutput::Interrupted;
    return ok ? CliOutput::Done : CliOutput::Failed;
}

} // namespace

int runCards(const QStringList &words)
{
    return runCommand(words, {{QStringLiteral("json"), false}}, cardsUsage, false, runCardsCommand);
}

int runOffload(const QStringList &words)
{
    return runCommand(words,
                      {{QStringLiteral("json"), false},
                       {QStringLiteral("save"), true},
                       {QStringLiteral("lens"), true},
                       {QStringLiteral("pos"), true},
                       {QStringLiteral("sorties"), false},
                       {QStringLiteral("split"), true},
                       {QStringLiteral("password"), true},
                       {QStringLiteral("password-file"), true},
                       {QStringLiteral("resume"), false},
                       {QStringLiteral("no-verify"), false}},
                      offloadUsage, false, runOffloadCommand);
}
