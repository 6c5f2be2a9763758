/*
 * orvex-cli upgrade end to end against q7sim's loader: an encrypted file sent
 * in its decrypted form with progress to 100 %, a loader that stalls, and
 * the refusals that must send nothing to the camera.
 */
#include "CliRun.h"
#include "sim_process.h"
#include "tavrin/tavrin.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

class UpgradeCli : public testing::Test {
protected:
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    QString write(const char *name, const QByteArray &bytes) const
    {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
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
        return runCli(
            {.args = QStringList{QStringLiteral("--camera-address"), QStringLiteral("127.0.0.1"),
                                 QStringLiteral("--camera-port"), QString::number(port),
                                 QStringLiteral("upgrade")} +
                     args,
             .dataDir = path("data"),
             .input = input,
             .timeoutMs = 180000});
    }

    QByteArray read(const char *name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
};

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
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(path("received.bin")) && clock.elapsed() < 10000)
        QThread::msleep(50);
    EXPECT_EQ(read("received.bin"), read("expected.bin"));
    EXPECT_FALSE(QFile::exists(path("data/tempfile.bin"))) << "the decrypted copy is removed";
}

TEST_F(UpgradeCli, StallingLoaderFailsAfterTheStallTime)
{
    SimProcess sim(
        {"--loader-stall-at", "1000", "--loader-image", path("received.bin").toStdString()});
    ASSERT_TRUE(sim.running()) << sim.error();
    QByteArray image(3000, '\x5a');
    const CliRun run =
        upgrade(sim.port(), {write("firmware.bin", image), QStringLiteral("--timeout"), "2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("upgrade: 33%"))) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("stopped progressing"))) << run.err.toStdString();
    EXPECT_LT(run.ms, 30000) << "the stall time, not the default 30 s";
    EXPECT_FALSE(QFile::exists(path("received.bin")));
}

TEST_F(UpgradeCli, RefusalsSendNothing)
{
    SimProcess sim({"--silent-after", "0"});
    ASSERT_TRUE(sim.running()) << sim.error();
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
        const CliRun run = upgrade(sim.port(), QStringList{row.file} + row.options, row.input);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.contains(QLatin1String(row.reason))) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(QStringLiteral("prepare-firmware")));
        EXPECT_FALSE(run.out.contains(QStringLiteral("Send CMD"))) << run.out.toStdString();
        EXPECT_FALSE(QFile::exists(path("data/tempfile.bin")));
    }
}

} // namespace
