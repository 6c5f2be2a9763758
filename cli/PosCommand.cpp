/* orvex-cli pos: the POS page's work from a terminal. */
#include "CameraSession.h"
#include "CliArgs.h"
#include "CliOutput.h"
#include "Commands.h"
#include "platform/VolumeQuery.h"
#include "pos/MyExcelObject.h"
#include "pos/PosRules.h"
#include "pos/PosSequencer.h"
#include "pos/UsbPosExport.h"
#include "pos/UsbPosFiles.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <memory>

namespace {

using CliOutput::fail;

const char posUsage[] =
    "usage: orvex-cli pos SUBCOMMAND ...\n"
    "  list [--timeout S] [--json]            the camera's POS slots 1-14\n"
    "  download ID... --out PATH [--per-lens] [--timeout S] [--json]\n"
    "                                         fetch the listed rows into tables; one ID is saved\n"
    "                                         as PATH, several as PATH's stem + ID + \".xls\"\n"
    "  delete ID... [--timeout S] [--json]    delete slots on the camera, then list again\n"
    "  usb [--volume DIR] [--record-size 32|52] [--json]\n"
    "                                         the files of the USB POS volume (label KORVELLAPOS)\n"
    "  export ID... --out PATH [--per-lens] [--volume DIR] [--record-size 32|52] [--json]\n"
    "                                         tables from USB POS files, into PATH's folder\n"
    "  read TABLE... [--json]                 what the image data service reads from tables\n"
    "Without --record-size the record size comes from the connected camera's serial number.\n"
    "--per-lens also writes the five lens tables (52-byte records). A listing or download that\n"
    "receives nothing for --timeout seconds (default 30) fails. Exit 0 done, 1 failed, 2 bad\n"
    "usage, 130 interrupted.\n";

/* IDs as `pos list` and `pos usb` print them (1-based), each a row index. */
bool parseIds(const QStringList &words, int count, QList<int> *rows, QString *error)
{
    if (words.isEmpty()) {
        *error = QStringLiteral("no ID given");
        return false;
    }
    for (const QString &word : words) {
        bool ok = false;
        const int id = word.toInt(&ok);
        if (!ok || id < 1) {
            *error = QStringLiteral("'%1' is no ID").arg(word);
            return false;
        }
        if (count >= 0 && id > count) {
            *error = QStringLiteral("no file with ID %1 (there are %2)").arg(id).arg(count);
            return false;
        }
        if (!rows->contains(id - 1))
            rows->append(id - 1);
    }
    return true;
}

QJsonObject entryJson(int row, const posfile_entry_t &entry, int recordSize)
{
    const uint32_t size = entry.end_address - entry.start_address;
    QJsonObject object{{QStringLiteral("id"), row + 1},
                       {QStringLiteral("slot"), entry.number},
                       {QStringLiteral("time"), PosRules::listTimeText(entry.start_time)},
                       {QStringLiteral("downloads"), entry.download_count},
                       {QStringLiteral("bytes"), static_cast<qint64>(size)}};
    object[QStringLiteral("records")] =
        recordSize ? QJsonValue(static_cast<qint64>(size / recordSize)) : QJsonValue();
    return object;
}

void printList(const QList<posfile_entry_t> &list, int recordSize, bool asJson)
{
    QJsonArray files;
    if (!asJson)
        CliOutput::line(QStringLiteral("ID  slot  time                 records  downloads"));
    for (int row = 0; row < list.size(); ++row) {
        const QJsonObject object = entryJson(row, list[row], recordSize);
        files.append(object);
        if (!asJson)
            CliOutput::line(QStringLiteral("%1  %2  %3  %4  %5")
                                .arg(row + 1, 2)
                                .arg(list[row].number, 4)
                                .arg(object[QStringLiteral("time")].toString())
                                .arg(object[QStringLiteral("records")].toVariant().toString(), 7)
                                .arg(list[row].download_count, 9));
    }
    if (asJson)
        CliOutput::json({{QStringLiteral("files"), files}});
}

/* A connected camera whose identity is known, with its slots listed. */
struct ListedCamera {
    CameraSession session;
    PosSequencer sequencer;
};

/* --timeout in seconds (default 30); a failure's exit status, or Done. */
int readTimeout(const CliArgs &args, double *timeout)
{
    bool ok = true;
    *timeout = args.value(QStringLiteral("timeout"), QStringLiteral("30")).toDouble(&ok);
    if (!ok || *timeout <= 0)
        return fail(QStringLiteral("--timeout: '%1' is no number of seconds")
                        .arg(args.value(QStringLiteral("timeout"))),
                    CliOutput::Usage);
    return CliOutput::Done;
}

/*
 * Tick the sequencer while it deletes and lists. A camera that lists no slot for `timeout`
 * seconds fails the listing; a failure's exit status, or Done.
 */
int waitForListing(PosSequencer &sequencer, double timeout)
{
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer sinceListed;
    sinceListed.start();
    qsizetype listed = 0;
    while (sequencer.isDeleting() || sequencer.isListing()) {
        sequencer.tick();
        if (!pauseBriefly())
            return CliOutput::Interrupted;
        if (sequencer.isDeleting() || sequencer.deviceList().size() != listed) {
            listed = sequencer.deviceList().size();
            sinceListed.restart();
        }
        if (sinceListed.elapsed() > timeout * 1000)
            return fail(QStringLiteral("timed out: the camera listed no POS slot for %1 s "
                                       "(%2 of 14 listed)")
                            .arg(timeout)
                            .arg(listed));
        if (clock.elapsed() > 120000)
            return fail(QStringLiteral("the camera did not list its POS files within 120 s"));
    }
    return CliOutput::Done;
}

/* Connect, list the slots, and check that every row asked for is listed. */
int connectAndList(ListedCamera &camera, double timeout, const QList<int> &rows = {})
{
    QString error;
    if (!camera.session.open(&error))
        return fail(error);
    if (!camera.session.waitForIdentity(10))
        return CliOutput::interrupted() ? CliOutput::Interrupted
                                        : fail(QStringLiteral("no camera answered"));
    camera.sequencer.setLink(camera.session.posManager(), camera.session.camera());
    camera.sequencer.setRecordSize(camera.session.recordSize());
    camera.sequencer.setFirmware(camera.session.firmware());
    camera.sequencer.startListing();
    if (const int status = waitForListing(camera.sequencer, timeout))
        return status;
    for (int row : rows)
        if (row >= camera.sequencer.deviceList().size())
            return fail(QStringLiteral("no file with ID %1 on the camera").arg(row + 1));
    return CliOutput::Done;
}

int posList(const CliArgs &args)
{
    double timeout = 0;
    if (const int status = readTimeout(args, &timeout))
        return status;
    ListedCamera camera;
    if (const int status = connectAndList(camera, timeout))
        return status;
    printList(camera.sequencer.deviceList(), camera.session.recordSize(),
              args.has(QStringLiteral("json")));
    return CliOutput::Done;
}

int posDownload(const CliArgs &args)
{
    const QString out = args.value(QStringLiteral("out"));
    if (out.isEmpty())
        return fail(QStringLiteral("pos download needs --out PATH"), CliOutput::Usage);
    double timeout = 0;
    if (const int status = readTimeout(args, &timeout))
        return status;
    QList<int> rows;
    QString error;
    if (!parseIds(args.positionals(), -1, &rows, &error))
        return fail(error, CliOutput::Usage);

    ListedCamera camera;
    if (const int status = connectAndList(camera, timeout, rows))
        return status;
    PosSequencer &sequencer = camera.sequencer;
    sequencer.setStallTimeout(static_cast<int>(timeout * 1000));

    QJsonArray written;
    QString failure;
    bool finished = false;
    std::unique_ptr<ProgressReporter> progress;
    int currentRow = -1;
    QObject::connect(&sequencer, &PosSequencer::progressChanged, [&](int percent, const QString &) {
        if (!progress)
            return;
        progress->update(percent, 100);
    });
    QObject::connect(
        &sequencer, &PosSequencer::fileDownloaded, [&](int row, const QString &path, int records) {
            if (progress)
                progress->finish();
            progress.reset();
            QJsonObject file{{QStringLiteral("id"), row + 1},
                             {QStringLiteral("path"), path},
                             {QStringLiteral("records"), records}};
            if (sequencer.recordSize() == 52 && args.has(QStringLiteral("per-lens"))) {
                QJsonArray lens;
                for (int i = 0; i < PosRules::lensNames.size(); ++i)
                    lens.append(PosRules::lensTablePath(path, i));
                file[QStringLiteral("lens_tables")] = lens;
            }
            written.append(file);
            if (!args.has(QStringLiteral("json")))
                CliOutput::line(
                    QStringLiteral("ID %1: %2 records in %3").arg(row + 1).arg(records).arg(path));
        });
    QObject::connect(&sequencer, &PosSequencer::downloadFinished, [&] { finished = true; });
    QObject::connect(
        &sequencer, &PosSequencer::downloadFailed,
        [&](PosSequencer::Failure kind, const QString &detail, int row, const QString &path) {
            QString why = detail;
            if (kind == PosSequencer::Failure::Timeout)
                why = QStringLiteral("timed out (nothing received for %1 s)").arg(timeout);
            else if (kind == PosSequencer::Failure::Short)
                why = QStringLiteral("the camera ended the file short");
            failure = QStringLiteral("ID %1 (%2): %3").arg(row + 1).arg(path, why);
        });

    if (!sequencer.startDownload(rows, out, args.has(QStringLiteral("per-lens")), &error))
        return fail(error);
    while (!finished && failure.isEmpty()) {
        sequencer.tick();
        if (sequencer.isDownloading() && !progress) {
            const int row = rows.value(static_cast<int>(written.size()));
            if (row != currentRow) {
                currentRow = row;
                progress = std::make_unique<ProgressReporter>(QStringLiteral("ID %1").arg(row + 1));
            }
        }
        if (!pauseBriefly()) {
            sequencer.cancelDownload();
            sequencer.tick();
            return fail(QStringLiteral("interrupted; the file being fetched was not kept"),
                        CliOutput::Interrupted);
        }
    }
    if (progress)
        progress->finish();
    if (args.has(QStringLiteral("json")))
        CliOutput::json(
            {{QStringLiteral("files"), written}, {QStringLiteral("ok"), failure.isEmpty()}});
    return failure.isEmpty() ? CliOutput::Done : fail(failure);
}

int posDelete(const CliArgs &args)
{
    double timeout = 0;
    if (const int status = readTimeout(args, &timeout))
        return status;
    QList<int> rows;
    QString error;
    if (!parseIds(args.positionals(), -1, &rows, &error))
        return fail(error, CliOutput::Usage);
    ListedCamera camera;
    if (const int status = connectAndList(camera, timeout, rows))
        return status;
    PosSequencer &sequencer = camera.sequencer;
    sequencer.startDelete(rows);
    /* Deleting, then the fresh listing that follows it. */
    if (const int status = waitForListing(sequencer, timeout))
        return status;
    printList(sequencer.deviceList(), camera.session.recordSize(),
              args.has(QStringLiteral("json")));
    return CliOutput::Done;
}

/* The record size of USB files: --record-size, else the connected camera's serial number. */
int usbRecordSize(const CliArgs &args, int *recordSize)
{
    if (args.has(QStringLiteral("record-size"))) {
        *recordSize = args.value(QStringLiteral("record-size")).toInt();
        if (*recordSize != 32 && *recordSize != 52)
            return fail(QStringLiteral("--record-size must be 32 or 52"), CliOutput::Usage);
        return CliOutput::Done;
    }
    CameraSession session;
    QString error;
    if (!session.open(&error))
        return fail(error);
    if (!session.waitForIdentity(10))
        return CliOutput::interrupted()
                   ? CliOutput::Interrupted
                   : fail(QStringLiteral("no camera answered: its serial number gives the POS "
                                         "record size; give --record-size 32|52 without a camera"));
    *recordSize = session.recordSize();
    if (*recordSize == 0)
        return fail(QStringLiteral("serial number %1 gives no POS record size; give "
                                   "--record-size")
                        .arg(session.serial()));
    return CliOutput::Done;
}

int usbVolume(const CliArgs &args, QString *folder)
{
    if (args.has(QStringLiteral("volume"))) {
        *folder = args.value(QStringLiteral("volume"));
        if (!QFileInfo(*folder).isDir())
            return fail(QStringLiteral("--volume: %1 is no folder").arg(*folder));
        return CliOutput::Done;
    }
    const std::optional<Volume> volume =
        VolumeQuery::findByLabel(VolumeQuery::mountedVolumes(), usbPosLabel, Qt::CaseSensitive);
    if (!volume)
        return fail(
            QStringLiteral("no mounted volume labelled %1; give --volume DIR").arg(usbPosLabel));
    *folder = volume->mountPath;
    return CliOutput::Done;
}

QJsonObject usbFileJson(const UsbPosFile &file)
{
    return {{QStringLiteral("id"), file.id},
            {QStringLiteral("name"), file.name},
            {QStringLiteral("time"), file.timeText},
            {QStringLiteral("records"), file.records},
            {QStringLiteral("trailing_bytes"), file.trailingBytes}};
}

int listUsb(const CliArgs &args, UsbPosListing *listing, int *recordSize, QString *folder)
{
    const QString given = args.value(QStringLiteral("record-size"));
    if (args.has(QStringLiteral("record-size")) && given != QLatin1String("32") &&
        given != QLatin1String("52"))
        return fail(QStringLiteral("--record-size must be 32 or 52"), CliOutput::Usage);
    if (const int status = usbVolume(args, folder))
        return status;
    if (const int status = usbRecordSize(args, recordSize))
        return status;
    *listing = UsbPosFiles::list(*folder, *recordSize);
    for (const QString &problem : std::as_const(listing->problems))
        fail(problem);
    return CliOutput::Done;
}

int posUsb(const CliArgs &args)
{
    UsbPosListing listing;
    int recordSize = 0;
    QString folder;
    if (const int status = listUsb(args, &listing, &recordSize, &folder))
        return status;
    QJsonArray files;
    const bool asJson = args.has(QStringLiteral("json"));
    if (!asJson)
        CliOutput::line(QStringLiteral("%1 (%2-byte records)").arg(folder).arg(recordSize));
    for (const UsbPosFile &file : std::as_const(listing.files)) {
        files.append(usbFileJson(file));
        if (!asJson)
            CliOutput::line(QStringLiteral("%1  %2  %3  %4%5")
                                .arg(file.id, 2)
                                .arg(file.timeText, file.name)
                                .arg(file.records)
                                .arg(file.trailingBytes ? QStringLiteral(" (+%1 bytes of a cut "
                                                                         "record, not exported)")
                                                              .arg(file.trailingBytes)
                                                        : QString()));
    }
    if (asJson)
        CliOutput::json(
            {{QStringLiteral("volume"), folder},
             {QStringLiteral("record_size"), recordSize},
             {QStringLiteral("files"), files},
             {QStringLiteral("unreadable"), QJsonArray::fromStringList(listing.problems)}});
    return listing.problems.isEmpty() ? CliOutput::Done : CliOutput::Failed;
}

int posExport(const CliArgs &args)
{
    const QString out = args.value(QStringLiteral("out"));
    if (out.isEmpty())
        return fail(QStringLiteral("pos export needs --out PATH"), CliOutput::Usage);
    QList<int> rows;
    QString error;
    if (!parseIds(args.positionals(), -1, &rows, &error))
        return fail(error, CliOutput::Usage);
    UsbPosListing listing;
    int recordSize = 0;
    QString folder;
    if (const int status = listUsb(args, &listing, &recordSize, &folder))
        return status;
    for (int row : rows)
        if (row >= listing.files.size())
            return fail(QStringLiteral("no USB POS file with ID %1").arg(row + 1));

    const QString outFolder = QFileInfo(out).absolutePath();
    const bool perLens = args.has(QStringLiteral("per-lens"));
    QJsonArray exported;
    for (int k = 0; k < rows.size(); ++k) {
        const UsbPosFile &file = listing.files[rows[k]];
        const UsbExportJob job{
            file.path, outFolder + QLatin1Char('/') +
                           PosRules::usbTableName(file.digits, static_cast<int>(rows.size()), k)};
        ProgressReporter progress(QStringLiteral("ID %1").arg(file.id), QStringLiteral("records"));
        QStringList written;
        const bool ok = UsbPosExport::exportFile(
            job, recordSize, perLens,
            [&progress](qint64 done, qint64 total) {
                progress.update(done, total);
                return !CliOutput::interrupted();
            },
            &written, &error);
        progress.finish();
        if (CliOutput::interrupted())
            return fail(QStringLiteral("interrupted; %1 was not written").arg(job.table),
                        CliOutput::Interrupted);
        if (!ok)
            return fail(error);
        exported.append(
            QJsonObject{{QStringLiteral("id"), file.id},
                        {QStringLiteral("source"), file.path},
                        {QStringLiteral("records"), file.records},
                        {QStringLiteral("trailing_bytes"), file.trailingBytes},
                        {QStringLiteral("tables"), QJsonArray::fromStringList(written)}});
        if (!args.has(QStringLiteral("json")))
            CliOutput::line(QStringLiteral("ID %1: %2 records in %3")
                                .arg(file.id)
                                .arg(file.records)
                                .arg(written.join(QStringLiteral(", "))));
    }
    if (args.has(QStringLiteral("json")))
        CliOutput::json({{QStringLiteral("files"), exported}});
    return CliOutput::Done;
}

QJsonValue timeJson(quint32 time)
{
    return time == MyExcelObject::InvalidTime ? QJsonValue()
                                              : QJsonValue(static_cast<qint64>(time));
}

QJsonValue pointJson(const QList<PosPoint> &points, bool last)
{
    if (points.isEmpty())
        return QJsonValue();
    const PosPoint &p = last ? points.last() : points.first();
    return QJsonObject{{QStringLiteral("lon"), p.lon},
                       {QStringLiteral("lat"), p.lat},
                       {QStringLiteral("alt"), p.alt}};
}

int posRead(const CliArgs &args)
{
    if (args.positionals().isEmpty())
        return fail(QStringLiteral("pos read needs at least one TABLE"), CliOutput::Usage);
    QJsonArray tables;
    int status = CliOutput::Done;
    const bool asJson = args.has(QStringLiteral("json"));
    for (const QString &path : args.positionals()) {
        MyExcelObject table;
        if (!table.load(path)) {
            status = fail(table.error);
            continue;
        }
        quint32 first = MyExcelObject::InvalidTime;
        quint32 last = MyExcelObject::InvalidTime;
        int invalid = 0;
        for (quint32 time : std::as_const(table.timeList)) {
            if (time == MyExcelObject::InvalidTime) {
                ++invalid;
                continue;
            }
            if (first == MyExcelObject::InvalidTime)
                first = time;
            last = time;
        }
        const QJsonObject object{{QStringLiteral("path"), path},
                                 {QStringLiteral("records"), table.positionList.size()},
                                 {QStringLiteral("first_time"), timeJson(first)},
                                 {QStringLiteral("last_time"), timeJson(last)},
                                 {QStringLiteral("invalid_times"), invalid},
                                 {QStringLiteral("skipped_lines"), table.skippedLines},
                                 {QStringLiteral("first"), pointJson(table.positionList, false)},
                                 {QStringLiteral("last"), pointJson(table.positionList, true)}};
        tables.append(object);
        if (!asJson)
            CliOutput::line(QStringLiteral("%1: %2 records, times %3 to %4, %5 without time, %6 "
                                           "lines skipped")
                                .arg(path)
                                .arg(table.positionList.size())
                                .arg(timeJson(first).toVariant().toString(),
                                     timeJson(last).toVariant().toString())
                                .arg(invalid)
                                .arg(table.skippedLines));
    }
    if (asJson)
        CliOutput::json({{QStringLiteral("tables"), tables}});
    return status;
}

struct Subcommand {
    const char *name;
    int (*run)(const CliArgs &args);
    QList<OptionSpec> options;
};

} // namespace

int runPos(const QStringList &words)
{
    const OptionSpec json{QStringLiteral("json"), false};
    const OptionSpec out{QStringLiteral("out"), true};
    const OptionSpec perLens{QStringLiteral("per-lens"), false};
    const OptionSpec volume{QStringLiteral("volume"), true};
    const OptionSpec recordSize{QStringLiteral("record-size"), true};
    const OptionSpec timeout{QStringLiteral("timeout"), true};
    const Subcommand subcommands[] = {
        {"list", posList, {json, timeout}},
        {"download", posDownload, {json, out, perLens, timeout}},
        {"delete", posDelete, {json, timeout}},
        {"usb", posUsb, {json, volume, recordSize}},
        {"export", posExport, {json, out, perLens, volume, recordSize}},
        {"read", posRead, {json}},
    };
    if (words.isEmpty() || words.first() == QLatin1String("--help") ||
        words.first() == QLatin1String("-h")) {
        std::fputs(posUsage, words.isEmpty() ? stderr : stdout);
        return words.isEmpty() ? CliOutput::Usage : CliOutput::Done;
    }
    for (const Subcommand &sub : subcommands) {
        if (words.first() != QLatin1String(sub.name))
            continue;
        CliArgs args;
        QString error;
        if (!args.parse(words.mid(1), sub.options, &error))
            return fail(QStringLiteral("pos %1: %2").arg(QLatin1String(sub.name), error),
                        CliOutput::Usage);
        if (args.help()) {
            std::fputs(posUsage, stdout);
            return CliOutput::Done;
        }
        return sub.run(args);
    }
    return fail(QStringLiteral("unknown pos command '%1' (see pos --help)").arg(words.first()),
                CliOutput::Usage);
}
