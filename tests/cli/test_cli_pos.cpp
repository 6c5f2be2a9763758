/*
 * orvex-cli pos end to end: against q7sim under loss and on a real exFAT USB
 * POS volume (each protocol's faults are the exchange tests' in tests/sim).
 * What the tables hold is checked through `pos read` against the simulator's
 * own records, and the USB export against the link's download of the same file.
 */
#include "CliRun.h"
#include "LoopVolume.h"
#include "TestFiles.h"
#include "sim_frames.h"
#include "sim_options.h"
#include "sim_posstore.h"
#include "sim_process.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ctime>
#include <sys/time.h>

namespace {

CliRun cli(const QStringList &args, unsigned port = 0)
{
    CliCall call{.args = args, .timeoutMs = 180000};
    call.env.insert(QStringLiteral("TZ"), QStringLiteral("Asia/Shanghai"));
    if (port)
        call.args = QStringList{QStringLiteral("--camera-address"), QStringLiteral("127.0.0.1"),
                                QStringLiteral("--camera-port"), QString::number(port)} +
                    args;
    return runCli(call);
}

/* A record's big-endian signed 32-bit field. */
int32_t s32(const q7sim::Bytes &r, int at)
{
    return static_cast<int32_t>(q7sim::get_be32(r, at));
}

/* Seconds since 1970 of a record, or -1 for one without time. */
qint64 recordTime(const q7sim::Bytes &r)
{
    if ((r[30] & 3) == 2)
        return s32(r, 24);
    if (!(r[30] & 1))
        return -1;
    tm t{};
    t.tm_year = r[24] + 100;
    t.tm_mon = r[25] - 1;
    t.tm_mday = r[26];
    t.tm_hour = r[27];
    t.tm_min = r[28];
    t.tm_sec = r[29];
    return timegm(&t);
}

/* What `pos read` must say of a main table of a simulated file. */
void expectTableOf(const QJsonObject &table, const q7sim::PosFile &file)
{
    SCOPED_TRACE(table[QStringLiteral("path")].toString().toStdString());
    ASSERT_EQ(table[QStringLiteral("records")].toInt(), static_cast<int>(file.records.size()));
    EXPECT_EQ(table[QStringLiteral("skipped_lines")].toInt(), 0);
    qint64 first = -1, last = -1;
    int invalid = 0;
    for (const q7sim::Bytes &r : file.records) {
        const qint64 t = recordTime(r);
        invalid += t < 0;
        if (t >= 0 && first < 0)
            first = t;
        if (t >= 0)
            last = t;
    }
    EXPECT_EQ(table[QStringLiteral("first_time")].toInteger(), first);
    EXPECT_EQ(table[QStringLiteral("last_time")].toInteger(), last);
    EXPECT_EQ(table[QStringLiteral("invalid_times")].toInt(), invalid);
    const q7sim::Bytes &end = file.records.back();
    EXPECT_DOUBLE_EQ(table[QStringLiteral("last")][QStringLiteral("lon")].toDouble(),
                     s32(end, 8) * 1e-7);
    EXPECT_DOUBLE_EQ(table[QStringLiteral("last")][QStringLiteral("lat")].toDouble(),
                     s32(end, 12) * 1e-7);
}

q7sim::PosStore storeFor(const std::string &serial)
{
    q7sim::Options options;
    options.serial = serial;
    return q7sim::PosStore(options);
}

const std::string longSerial = "Q7X500000012345";

TEST(PosCli, ListDownloadAndDeleteUnderLoss)
{
    SimProcess sim({"--serial", longSerial, "--firmware", "4.5", "--loss", "0.05", "--reorder",
                    "0.02", "--seed", "7"});
    ASSERT_TRUE(sim.running()) << sim.error();
    const q7sim::PosStore store = storeFor(longSerial);
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("my.dir/pos.xls"));
    QDir().mkpath(dir.filePath(QStringLiteral("my.dir")));

    const CliRun list = cli({"pos", "list", "--json"}, sim.port());
    ASSERT_EQ(list.status, 0) << list.err.toStdString();
    const QJsonArray listed = list.json[QStringLiteral("files")].toArray();
    ASSERT_EQ(listed.size(), 14);
    EXPECT_EQ(listed[3][QStringLiteral("records")].toInt(), 1500);

    /* File 4 starts with records taken before the GPS fix: no time, no position. */
    const CliRun download =
        cli({"pos", "download", "3", "4", "--out", out, "--per-lens", "--json"}, sim.port());
    ASSERT_EQ(download.status, 0) << download.err.toStdString();
    const QString pos3 = dir.filePath(QStringLiteral("my.dir/pos3.xls"));
    const QString pos4 = dir.filePath(QStringLiteral("my.dir/pos4.xls"));
    const QString right4 = dir.filePath(QStringLiteral("my.dir/pos4Right.xls"));
    const CliRun read = cli({"pos", "read", "--json", pos3, pos4, right4});
    ASSERT_EQ(read.status, 0) << read.err.toStdString();
    const QJsonArray tables = read.json[QStringLiteral("tables")].toArray();
    expectTableOf(tables[0].toObject(), *store.file(3));
    expectTableOf(tables[1].toObject(), *store.file(4));
    int rightRows = 0;
    for (const q7sim::Bytes &r : store.file(4)->records)
        rightRows += s32(r, 35) >= 0;
    EXPECT_EQ(tables[2][QStringLiteral("records")].toInt(), rightRows);
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("my.dir")))
                    .entryList({QStringLiteral("*.part")}, QDir::Files)
                    .isEmpty());

    /* Acknowledged downloads count on the camera; a deleted slot answers empty. */
    const CliRun after = cli({"pos", "delete", "2", "--json"}, sim.port());
    ASSERT_EQ(after.status, 0) << after.err.toStdString();
    const QJsonArray relisted = after.json[QStringLiteral("files")].toArray();
    ASSERT_EQ(relisted.size(), 14);
    EXPECT_EQ(relisted[1][QStringLiteral("records")].toInt(), 0);
    /* Under loss an end marker may be lost and the completion sent again: counted again. */
    EXPECT_GE(relisted[2][QStringLiteral("downloads")].toInt(), 1);
    EXPECT_GE(relisted[3][QStringLiteral("downloads")].toInt(), 1);
}

TEST(PosCli, UsageAndMissingInput)
{
    struct Case {
        QStringList args;
        int status;
        const char *says;
    } cases[] = {
        {{"--help"}, 0, nullptr},
        {{"pos", "--help"}, 0, nullptr},
        {{"pos", "download", "--help"}, 0, nullptr},
        {{"pos", "fetch"}, 2, "unknown pos command 'fetch'"},
        {{"pos", "download", "3"}, 2, "needs --out"},
        {{"pos", "download", "x", "--out", "/tmp/a.xls"}, 2, "'x' is no ID"},
        {{"pos", "list", "--bogus"}, 2, "unknown option --bogus"},
        {{"pos", "export", "1", "--out", "/tmp/a.xls", "--record-size", "40"}, 2, "32 or 52"},
        {{"pos", "read", "/nonexistent/t.xls"}, 1, "/nonexistent/t.xls"},
        {{"frobnicate"}, 2, "unknown command"},
        {{"--camera-port", "70000", "pos", "list"}, 2, "no port"},
    };
    for (const Case &c : cases) {
        const CliRun run = cli(c.args);
        EXPECT_EQ(run.status, c.status) << c.args.join(' ').toStdString();
        if (c.says) {
            EXPECT_TRUE(run.err.contains(QLatin1String(c.says))) << run.err.toStdString();
        }
    }
}

/* The camera's USB volume: its raw files become the same tables the link downloads. */
TEST(PosCliCards, UsbVolumeExportsWhatTheLinkDownloads)
{
    if (const std::string why = LoopVolume::unavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    LoopVolume volume("KORVELLAPOS");
    ASSERT_TRUE(volume.ok()) << volume.whyNot();
    const q7sim::PosStore store = storeFor(longSerial);
    const QString root = QString::fromStdString(volume.mountPath());
    /* File 3 whole; file 4 cut inside its last record. */
    for (int number : {3, 4}) {
        QFile file(QStringLiteral("%1/POS%2.DAT").arg(root).arg(number));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (const q7sim::Bytes &r : store.file(number)->records)
            file.write(reinterpret_cast<const char *>(r.data()), static_cast<qint64>(r.size()));
        if (number == 4)
            file.write(QByteArray(20, '\x01'));
        file.close();
        /*
         * The camera writes 2017-01-01 00:00:00 UTC into the file system's
         * time fields, which the computer reads as its local time (Beijing
         * here): the listing shows it moved to Beijing time, 08:00:00.
         */
        const timeval stamp[2] = {{1483200000, 0}, {1483200000, 0}};
        ASSERT_EQ(utimes(QFile::encodeName(file.fileName()).constData(), stamp), 0);
    }

    const CliRun usb = cli({"pos", "usb", "--record-size", "52", "--json"});
    ASSERT_EQ(usb.status, 0) << usb.err.toStdString();
    EXPECT_EQ(usb.json[QStringLiteral("volume")].toString(), root);
    const QJsonArray files = usb.json[QStringLiteral("files")].toArray();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0][QStringLiteral("time")].toString(), QStringLiteral("2017-01-01 08-00-00"));
    EXPECT_EQ(files[1][QStringLiteral("records")].toInt(), 1500);
    EXPECT_EQ(files[1][QStringLiteral("trailing_bytes")].toInt(), 20);

    QTemporaryDir dir;
    const CliRun exported = cli({"pos", "export", "1", "2", "--out", dir.filePath("x.xls"),
                                 "--per-lens", "--record-size", "52", "--json"});
    ASSERT_EQ(exported.status, 0) << exported.err.toStdString();
    const QString usbTable = dir.filePath(QStringLiteral("20170101080000POS点数据1.xls"));
    ASSERT_TRUE(QFile::exists(usbTable));
    const CliRun read = cli(
        {"pos", "read", "--json", dir.filePath(QStringLiteral("20170101080000POS点数据2.xls"))});
    expectTableOf(read.json[QStringLiteral("tables")][0].toObject(), *store.file(4));

    SimProcess sim({"--serial", longSerial, "--firmware", "4.5"});
    ASSERT_TRUE(sim.running()) << sim.error();
    const QString linkTable = dir.filePath(QStringLiteral("link.xls"));
    const CliRun download =
        cli({"pos", "download", "3", "--out", linkTable, "--per-lens"}, sim.port());
    ASSERT_EQ(download.status, 0) << download.err.toStdString();
    EXPECT_EQ(readAll(usbTable), readAll(linkTable));
    for (const char *lens : {"Front", "Right", "Back", "Left", "Center"})
        EXPECT_EQ(readAll(dir.filePath(
                      QStringLiteral("20170101080000POS点数据1%1.xls").arg(QLatin1String(lens)))),
                  readAll(dir.filePath(QStringLiteral("link%1.xls").arg(QLatin1String(lens)))))
            << lens;
}

} // namespace
