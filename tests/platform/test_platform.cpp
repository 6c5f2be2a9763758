// Our layer for the operating system: paths, crash reports, settings.
#include "platform/AppPaths.h"
#include "platform/AppSettings.h"
#include "platform/CrashReporter.h"
#include "platform/WholeFile.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        qputenv("ORVEX_DATA_DIR", m_data.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
    }

    /* A write killed before its rename leaves the old file; the next write clears its leftover. */
    void replaceKilledMidwayLeavesNothingOnceWrittenAgain()
    {
        QTemporaryDir dir;
        const QString sums = dir.filePath("SUMS");
        QString why;
        QVERIFY2(WholeFile::replace(sums, "old\n", 0644, &why), qPrintable(why));
        QFile other(dir.filePath(".OTHER.abc123")); // not a leftover of SUMS
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_DFL);
            const rlimit limit{10, 10}; // the kernel stops the write that crosses 10 bytes
            setrlimit(RLIMIT_FSIZE, &limit);
            WholeFile::replace(sums, QByteArray(100, 'x'), 0644, &why);
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
        const auto names = [&] { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); };
        QCOMPARE(names().size(), 3);
        QVERIFY2(WholeFile::replace(sums, "new\n", 0644, &why), qPrintable(why));
        QCOMPARE(names(), QStringList({".OTHER.abc123", "SUMS"}));
        QFile result(sums);
        QVERIFY(result.open(QIODevice::ReadOnly));
        QCOMPARE(result.readAll(), QByteArray("new\n"));
    }

    void fatalSignalLeavesACrashReportInTheDataFolder()
    {
        QCOMPARE(AppPaths::dataDir(), m_data.path());
        const QString dump = AppPaths::dumpDir();
        QCOMPARE(dump, m_data.path() + QStringLiteral("/R7Izurudizi/dump"));
        QVERIFY(QDir(dump).exists());
        QVERIFY(!CrashReporter::install(QString())); // an unusable folder
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            CrashReporter::install(dump);
            raise(SIGSEGV);
            _exit(0); // not reached
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGSEGV); // the signal still ends the process
        const QStringList reports = QDir(dump).entryList({QStringLiteral("*.dmp")}, QDir::Files);
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports.first().contains(
            QRegularExpression(QStringLiteral("^\\d{4}(_\\d\\d){5}\\.dmp$"))));
        QFile report(dump + QLatin1Char('/') + reports.first());
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QByteArray text = report.readAll();
        QVERIFY(text.contains("signal: 11 (SEGV)") && text.contains("backtrace:"));
    }

    void cameraAddressFromSettingsAndCommandLine()
    {
        QCOMPARE(AppSettings::cameraAddress(), AppSettings::defaultCameraAddress);
        QCOMPARE(AppSettings::cameraPort(), AppSettings::defaultCameraPort);
        AppSettings::setCameraAddress(QStringLiteral("10.1.2.3"));
        QCOMPARE(AppSettings::cameraAddress(), QStringLiteral("10.1.2.3"));
        AppSettings::setCameraAddress(QStringLiteral("not an address")); // refused: the default
        QCOMPARE(AppSettings::cameraAddress(), AppSettings::defaultCameraAddress);
        QString error;
        const auto apply = [&](const QStringList &args) {
            return AppSettings::applyCommandLine(QStringList{QStringLiteral("orvex")} + args,
                                                 error);
        };
        QVERIFY(!apply({"--camera-address", "camera"}));
        QVERIFY(error.contains(QStringLiteral("no IPv4 address")));
        QVERIFY(!apply({"--camera-port", "70000"}));
        QVERIFY(apply({"--camera-address", "127.0.0.1", "--camera-port", "9000"}));
        QCOMPARE(AppSettings::cameraAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(AppSettings::cameraPort(), 9000u);
        QVERIFY(AppSettings::isLoopback(QStringLiteral("127.0.0.1")) &&
                AppSettings::isLoopback(QStringLiteral("127.4.5.6")) &&
                !AppSettings::isLoopback(QStringLiteral("192.168.1.10")));
    }

    void sharedFilesAreLookedForBesideTheProgramThenPerUserThenInstalled()
    {
        QStringList lookedIn;
        QVERIFY(AppPaths::findShared(QStringLiteral("no such file"), &lookedIn).isEmpty());
        const QString user = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QCOMPARE(lookedIn, (QStringList{AppPaths::programDir(), user,
                                        QStringLiteral(ORVEX_DATA_INSTALL_DIR)}));
        QVERIFY(QDir().mkpath(user + QStringLiteral("/shared folder")));
        QCOMPARE(AppPaths::findShared(QStringLiteral("shared folder")),
                 user + QStringLiteral("/shared folder"));
        QVERIFY(QDir(user).removeRecursively());
    }

private:
    QTemporaryDir m_data;
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "test_platform.moc"
