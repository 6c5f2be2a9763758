// orvex-cli's device commands against q7sim: strategies sent and read back, refusals that send
// nothing, the landing-gear signal; and upgrade: an encrypted file sent decrypted with progress to
// 100 %, the progress a stalling loader reached, the refusals.
#include "CliRun.h"
#include "TestFiles.h"
#include "loopback_peer.h"
#include "sim_process.h"
#include "tavrin/tavrin.h"

#include <QtCore>
#include <gtest/gtest.h>

namespace {

/* orvex-cli against the camera at `port`, with `args` and what else `call` gives. */
CliRun cli(unsigned port, const QStringList &args, CliCall call = {.timeoutMs = 120000})
{
    call.args = QStringList{QStringLiteral("--camera-address"), QStringLiteral("127.0.0.1"),
                            QStringLiteral("--camera-port"), QString::number(port)} +
                args;
    return runCli(call);
}

CliRun cli(unsigned port, const char *line)
{
    return cli(port, QString::fromUtf8(line).split(QLatin1Char(' ')));
}

QString recordOf(unsigned port)
{
    const CliRun run = cli(port, "status --seconds 30 --json");
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    return run.json[QStringLiteral("record_hex")].toString();
}

/* A strategy the camera accepted: the record sent, which the camera's status reports too. */
QString sent(unsigned port, const char *line)
{
    const CliRun run = cli(port, line);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.json[QStringLiteral("matches")].toBool()) << line;
    const QString record = run.json[QStringLiteral("record_hex")].toString();
    EXPECT_EQ(recordOf(port), record) << line;
    return record;
}

class UpgradeCli : public testing::Test {
protected:
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    QString write(const char *name, const QByteArray &bytes) const
    {
        EXPECT_TRUE(writeFile(path(name), bytes));
        return path(name);
    }

    /* An encrypted firmware file: the magic, four header bytes, then a body. */
    QString encrypted(const char *name, int bodySize) const
    {
        QByteArray bytes("OVRE\x01\x02\x03\x04", 8);
        for (int i = 0; i < bodySize; ++i)
            bytes.append(char(i * 7 + 3));
        return write(name, bytes);
    }

    /* orvex-cli upgrade with `args`, `input` on standard input (then closed). */
    CliRun upgrade(unsigned port, const QStringList &args, const QByteArray &input = {}) const
    {
        return cli(port, QStringList{QStringLiteral("upgrade")} + args,
                   {.dataDir = path("data"), .input = input, .timeoutMs = 180000});
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST(DeviceCli, StrategiesAreSentAndReadBackRefusalsSendNothing)
{
    /* A camera without the landing-gear signal: only the default activation needs it. */
    SimProcess sim({"--no-landing-gear"});
    ASSERT_TRUE(sim.running()) << sim.error();
    const unsigned port = sim.port();

    /* Each form as the pages build it, on top of the record the camera reported. */
    QString record = sent(port, "strategy distance 12.34 --level low --yes --json");
    EXPECT_EQ(record.left(4), QStringLiteral("0302"));    // distance, external level
    EXPECT_EQ(record.mid(8, 2), QStringLiteral("00"));    // low
    EXPECT_EQ(record.mid(44, 4), QStringLiteral("7b00")); // 123 tenths of a metre
    record = sent(port, "strategy timed 1.5 --power-delay 3 --yes --json");
    EXPECT_EQ(record.left(4), QStringLiteral("0203"));
    EXPECT_EQ(record.mid(12, 4), QStringLiteral("0500"));     // the timed page's floor of 5 s
    EXPECT_EQ(record.mid(40, 8), QStringLiteral("0f007b00")); // 1.5 s; the distance kept

    /* Refused values: usage errors naming the option, and the camera's record stays. */
    CliRun run;
    for (const char *refused :
         {"strategy pwm --pulse 30 --period 1 --duration 10 --yes", "strategy distance 600 --yes",
          "strategy io high --duration 10000 --yes", "strategy timed 0.04 --yes",
          "strategy edge up --yes", "strategy distance 10 --pulse 1 --yes"}) {
        run = cli(port, refused);
        EXPECT_EQ(run.status, 2) << refused;
        EXPECT_FALSE(run.err.trimmed().isEmpty()) << refused;
    }
    EXPECT_TRUE(run.err.contains(QStringLiteral("--pulse")));
    /* The missing signal is the camera's refusal, not a usage error. */
    run = cli(port, "strategy distance 10 --yes");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("landing-gear"))) << run.err.toStdString();
    EXPECT_EQ(recordOf(port), record);

    record = sent(port, "strategy pwm --pulse 25.5 --period 0.5 --duration 100 --yes --json");
    EXPECT_EQ(record.left(2), QStringLiteral("04"));
    EXPECT_EQ(record.mid(24, 8), QStringLiteral("ff056400"));
    EXPECT_EQ(sent(port, "strategy edge falling --yes --json").mid(34, 2), QStringLiteral("00"));
    /* Without --yes and with no answer on the terminal nothing goes out. */
    EXPECT_EQ(cli(port, "strategy io high --duration 250 --json").status, 1);
    EXPECT_EQ(recordOf(port).left(2), QStringLiteral("06"));
}

TEST_F(UpgradeCli, EncryptedFileGoesOutDecryptedWithProgressToTheEnd)
{
    SimProcess sim({"--loader-image", path("received.bin").toStdString()});
    ASSERT_TRUE(sim.running()) << sim.error();
    const QString file = encrypted("firmware.bin", 1500);
    ASSERT_EQ(rvupgrader_file_decrypt(QFile::encodeName(file).constData(),
                                      QFile::encodeName(path("expected.bin")).constData()),
              1);
    const CliRun run = upgrade(sim.port(), {file, QStringLiteral("--yes")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("upgrade: 100% (1500/1500 bytes)")))
        << run.err.toStdString();
    /* The loader writes the image when upgrade-over arrives, maybe just after the exit. */
    for (int waited = 0; !QFile::exists(path("received.bin")) && waited < 10000; waited += 50)
        QThread::msleep(50);
    EXPECT_EQ(readAll(path("received.bin")), readAll(path("expected.bin")));
    EXPECT_FALSE(QFile::exists(path("data/tempfile.bin"))) << "the decrypted copy is removed";
}

/* The stall itself, its time-out and the image the loader never keeps are the exchange's own
 * rows (tests/sim); here the progress the loader had acknowledged when it stopped. */
TEST_F(UpgradeCli, StallingLoaderShowsTheProgressItReached)
{
    SimProcess sim({"--loader-stall-at", "1000"});
    ASSERT_TRUE(sim.running()) << sim.error();
    const CliRun run = upgrade(sim.port(), {write("firmware.bin", QByteArray(3000, '\x5a')),
                                            QStringLiteral("--timeout"), "2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("upgrade: 33%"))) << run.err.toStdString();
}

/* Against a port nothing listens on (the peer is closed again at once): only the last row gets
 * as far as looking for the camera. */
TEST_F(UpgradeCli, RefusalsSendNothing)
{
    const unsigned closed = LoopbackPeer().port;
    const struct {
        const char *name;
        QString file;
        QStringList options;
        QByteArray input;
        const char *reason;
    } rows[] = {
        {"closed stdin", encrypted("a.bin", 300), {}, {}, "was not decrypted; nothing was sent"},
        {"answered no", encrypted("b.bin", 300), {}, "n\n", "was not decrypted"},
        {"undecryptable", write("c.bin", "OVRE12"), {"--yes"}, {}, "cannot decrypt"},
        {"missing", path("none.bin"), {}, {}, "cannot read"},
        {"empty", write("d.bin", {}), {}, {}, "holds no firmware"},
        {"no camera", write("e.bin", "firmware"), {}, {}, "no camera answered"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const CliRun run = upgrade(closed, QStringList{row.file} + row.options, row.input);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.contains(QLatin1String(row.reason))) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(QStringLiteral("prepare-firmware")));
        EXPECT_FALSE(run.out.contains(QStringLiteral("Send CMD"))) << run.out.toStdString();
        EXPECT_FALSE(QFile::exists(path("data/tempfile.bin")));
    }
}
