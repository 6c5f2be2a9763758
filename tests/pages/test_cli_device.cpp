/*
 * orvex-cli strategy, status and shutter against q7sim: records sent and read
 * back from the camera's status, refusals that send nothing, the landing-gear
 * signal, test exposures, and the fault mask read by each firmware generation.
 */
#include "CliRun.h"
#include "sim_process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

CliRun cli(unsigned port, QStringList args)
{
    return runCli(
        {.args = QStringList{QStringLiteral("--camera-address"), QStringLiteral("127.0.0.1"),
                             QStringLiteral("--camera-port"), QString::number(port)} +
                 args,
         .timeoutMs = 120000});
}

QStringList words(const char *line)
{
    return QString::fromUtf8(line).split(QLatin1Char(' '));
}

QJsonObject status(unsigned port)
{
    const CliRun run = cli(port, words("status --seconds 30 --json"));
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    return run.json;
}

std::string recordOf(unsigned port)
{
    return status(port)[QStringLiteral("record_hex")].toString().toStdString();
}

QList<int> ints(const QJsonValue &array)
{
    QList<int> list;
    for (const QJsonValue &value : array.toArray())
        list << value.toInt();
    return list;
}

/* A UDP port nothing listens on. */
unsigned silentPort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    close(fd);
    return ntohs(local.sin_port);
}

} // namespace

TEST(DeviceCli, StrategiesAreSentAndReadBackRefusalsSendNothing)
{
    SimProcess sim({"--serial", "Q7X500000012345", "--faulty", "3"});
    ASSERT_TRUE(sim.running()) << sim.error();
    const unsigned port = sim.port();

    /* Each form as the pages build it, on top of the record the camera reported. */
    CliRun run = cli(port, words("strategy distance 12.34 --level low --yes --json"));
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    QString record = run.json[QStringLiteral("record_hex")].toString();
    EXPECT_TRUE(run.json[QStringLiteral("matches")].toBool());
    EXPECT_EQ(record.left(4), QStringLiteral("0302"));    // distance, external level
    EXPECT_EQ(record.mid(8, 2), QStringLiteral("00"));    // low
    EXPECT_EQ(record.mid(44, 4), QStringLiteral("7b00")); // 123 tenths of a metre
    EXPECT_EQ(recordOf(port), record.toStdString());

    run = cli(port, words("strategy timed 1.5 --power-delay 3 --yes --json"));
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    record = run.json[QStringLiteral("record_hex")].toString();
    EXPECT_EQ(record.left(4), QStringLiteral("0203"));
    EXPECT_EQ(record.mid(12, 4), QStringLiteral("0500"));     // the timed page's floor of 5 s
    EXPECT_EQ(record.mid(40, 8), QStringLiteral("0f007b00")); // 1.5 s; the distance kept
    EXPECT_EQ(recordOf(port), record.toStdString());

    /* Refused values: usage errors naming the option, and the camera's record stays. */
    for (const char *refused :
         {"strategy pwm --pulse 30 --period 1 --duration 10 --yes", "strategy distance 600 --yes",
          "strategy io high --duration 10000 --yes", "strategy timed 0.04 --yes",
          "strategy edge up --yes", "strategy distance 10 --pulse 1 --yes"}) {
        SCOPED_TRACE(refused);
        run = cli(port, words(refused));
        EXPECT_EQ(run.status, 2);
        EXPECT_FALSE(run.err.trimmed().isEmpty());
    }
    EXPECT_TRUE(run.err.contains(QStringLiteral("--pulse")));
    EXPECT_EQ(recordOf(port), record.toStdString());

    run = cli(port, words("strategy pwm --pulse 25.5 --period 0.5 --duration 100 --yes --json"));
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    record = run.json[QStringLiteral("record_hex")].toString();
    EXPECT_EQ(record.left(2), QStringLiteral("04"));
    EXPECT_EQ(record.mid(24, 8), QStringLiteral("ff056400"));
    run = cli(port, words("strategy edge falling --yes --json"));
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.json[QStringLiteral("record_hex")].toString().mid(34, 2), QStringLiteral("00"));
    /* Without --yes and with no answer on the terminal nothing goes out. */
    run = cli(port, words("strategy io high --duration 250 --json"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(recordOf(port).substr(0, 2), "06");

    /* A test exposure: every working camera counts it, camera 3 is at fault (new firmware:
     * its bit is clear). The work mode is off, so the Q7X camera takes it. */
    const QJsonObject before = status(port);
    EXPECT_EQ(before[QStringLiteral("firmware")].toString(), QStringLiteral("4.41"));
    EXPECT_EQ(before[QStringLiteral("hardware")].toString(), QStringLiteral("V2.0"));
    EXPECT_EQ(before[QStringLiteral("release_date")].toString(), QStringLiteral("2016-08-25"));
    EXPECT_EQ(ints(before[QStringLiteral("faulty_cameras")]), QList<int>{3});
    run = cli(port, {QStringLiteral("shutter"), QStringLiteral("--json")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject was = run.json[QStringLiteral("before")].toObject();
    const QJsonObject is = run.json[QStringLiteral("after")].toObject();
    EXPECT_EQ(is[QStringLiteral("total_exposures")].toInt(),
              was[QStringLiteral("total_exposures")].toInt() + 1);
    QList<int> expected = ints(was[QStringLiteral("counts")]);
    for (int i : {0, 1, 3, 4})
        ++expected[i];
    EXPECT_EQ(ints(is[QStringLiteral("counts")]), expected);
}

TEST(DeviceCli, OldFirmwareNoLandingGearAndNoCamera)
{
    SimProcess sim({"--firmware", "4.40", "--faulty", "2", "--no-landing-gear"});
    ASSERT_TRUE(sim.running()) << sim.error();
    const std::string record = recordOf(sim.port());

    /* The default activation needs the landing-gear signal, which this camera lacks. */
    CliRun run = cli(sim.port(), words("strategy distance 10 --yes"));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("landing-gear"))) << run.err.toStdString();
    EXPECT_EQ(recordOf(sim.port()), record);

    /* Older firmware sets a camera's bit once it falls behind the total. */
    EXPECT_TRUE(ints(status(sim.port())[QStringLiteral("faulty_cameras")]).isEmpty());
    run = cli(sim.port(), {QStringLiteral("shutter")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject after = status(sim.port());
    EXPECT_EQ(ints(after[QStringLiteral("faulty_cameras")]), QList<int>{2});
    EXPECT_EQ(after[QStringLiteral("fault_mask")].toInt(), 2);

    run = cli(silentPort(),
              {QStringLiteral("status"), QStringLiteral("--seconds"), QStringLiteral("1")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("no camera answered")));
}
