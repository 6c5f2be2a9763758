/*
 * Running orvex-cli as a program in a test: its exit status, what it wrote,
 * and the JSON document of its last line. Each test target defines
 * ORVEX_CLI_PATH.
 */
#ifndef TESTS_CLIRUN_H
#define TESTS_CLIRUN_H

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

struct CliRun {
    int status = -1; /* the exit code; -1 when it crashed or was killed */
    QString out;
    QString err;
    QJsonObject json; /* the last line of standard output, when it is JSON */
    qint64 ms = 0;    /* how long it ran */
};

struct CliCall {
    QStringList args{};
    QString dataDir{};      /* ORVEX_DATA_DIR when not empty */
    QByteArray input{};     /* standard input, closed after it */
    int timeoutMs = 300000; /* killed after this */
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

inline CliRun runCli(CliCall call)
{
    QProcess process;
    if (!call.dataDir.isEmpty())
        call.env.insert(QStringLiteral("ORVEX_DATA_DIR"), call.dataDir);
    process.setProcessEnvironment(call.env);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(ORVEX_CLI_PATH), call.args);
    process.write(call.input);
    process.closeWriteChannel();
    if (!process.waitForFinished(call.timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    CliRun run;
    run.ms = clock.elapsed();
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    const QStringList lines = run.out.trimmed().split(QLatin1Char('\n'));
    run.json = QJsonDocument::fromJson(lines.last().toUtf8()).object();
    return run;
}

#endif
