/*
 * The camera's status, a shutter-release strategy set and read back, and a
 * test exposure, as orvex-cli runs them, against q7sim with every fault of
 * the radio: each ends with the fault-free result or its named failure.
 */
#include "exchange_table.h"

#include <QJsonDocument>

namespace {

/* A failing exchange ends within its time-out and this much more (starting programs). */
constexpr qint64 marginMs = 10000;

/* The camera of every row: five cameras, 3 and 5 at fault, seven photographs taken. */
const std::vector<std::string> camera = {"--serial",       "Q7X516120000042",
                                         "--release-date", "2021-05-06",
                                         "--satellites",   "9",
                                         "--faulty",       "3,5",
                                         "--exposures",    "7"};

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

TEST(ExchangeUnderFaults, Status)
{
    const CliRun reference = runExchange(
        {{"status", "--seconds", "3", "--json"}, camera, 3000 + marginMs},
        radioFaults({
            /* 4.5 and 5.0 are later than 4.41 as decimal numbers: the cameras report
             * themselves, and 3 and 5 are named alike. */
            {{"--firmware", "4.5"}},
            {{"--firmware", "5.0", "--loss", "0.3"}},
            {{"--silent-after", "0"}, "no camera answered"},
        }),
        [](const FaultRow &row, const CliRun &run, const CliRun &first, const QString &) {
            if (row.failure)
                return;
            QJsonObject got = run.json;
            QJsonObject expected = first.json;
            EXPECT_EQ(got.take(QStringLiteral("firmware")).toString().toStdString(),
                      row.sim.size() > 1 && row.sim[0] == "--firmware" ? row.sim[1] : "4.41");
            expected.remove(QStringLiteral("firmware"));
            EXPECT_EQ(got, expected) << run.out.toStdString();
        });
    EXPECT_EQ(reference.json,
              json(R"({"serial": "Q7X516120000042", "firmware": "4.41", "hardware": "V2.0",
                "release_date": "2021-05-06", "pos_record_size": 52, "mode": 1,
                "strategy": "当前策略：调试模式", "fault_mask": 11, "faulty_cameras": [3, 5],
                "self_check": 1, "gps_fix": true, "satellites": 9, "total_exposures": 7,
                "counts": [7, 7, 0, 7, 0],
                "record_hex": "0203000001003c00640000000fc864000101640014002c01"})"));
}

TEST(ExchangeUnderFaults, StrategySetAndReadBack)
{
    const CliRun reference = runExchange(
        {{"strategy", "timed", "1.5", "--yes", "--json"}, camera, 10000 + marginMs},
        radioFaults({{{"--silent-on", "34"}, "reported nothing within 10 s"}}), sameJson);
    /* Every 1.5 s (15 tenths) from the landing gear, the rest as the camera reported it. */
    const char *record = "0201000001003c00640000000fc86400010164000f002c01";
    EXPECT_EQ(reference.json, QJsonObject({{"kind", "timed"},
                                           {"matches", true},
                                           {"record_hex", record},
                                           {"reported_hex", record}}));
}

TEST(ExchangeUnderFaults, TestExposure)
{
    const CliRun reference = runExchange(
        {{"shutter", "--json"}, camera, 10000 + marginMs},
        radioFaults({{{"--silent-on", "31"}, "no new exposure within 10 s"}}), sameJson);
    EXPECT_EQ(reference.json, json(R"({"before": {"total_exposures": 7, "counts": [7, 7, 0, 7, 0]},
                "after": {"total_exposures": 8, "counts": [8, 8, 0, 8, 0]}, "exposed": true})"));
}

} // namespace
