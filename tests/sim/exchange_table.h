/*
 * One exchange with the camera run by orvex-cli against q7sim, once per row
 * of a table of the simulated radio's faults. A row ends with the result of
 * the fault-free run or with its named failure within the exchange's time
 * limit: never a hang, never a different result.
 */
#ifndef TESTS_SIM_EXCHANGE_TABLE_H
#define TESTS_SIM_EXCHANGE_TABLE_H

#include "CliRun.h"
#include "sim_process.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct FaultRow {
    std::vector<std::string> sim;  /* q7sim's options; "{dir}" is the row's folder */
    const char *failure = nullptr; /* nullptr: the fault-free result; else what the error says */
    QStringList cli = {};          /* more orvex-cli arguments */
};

/*
 * The first row has no fault: the reference. Then each fault of the radio (bytes that make no
 * good frame together), and all at once.
 */
inline std::vector<FaultRow> radioFaults(std::vector<FaultRow> more = {})
{
    std::vector<FaultRow> rows = {
        {{}},
        {{"--loss", "0.3"}},
        {{"--duplicate", "0.5"}},
        {{"--reorder", "0.5"}},
        {{"--corrupt", "0.3", "--garbage", "0.5"}},
        {{"--loss", "0.1", "--duplicate", "0.2", "--reorder", "0.2", "--corrupt", "0.1",
          "--garbage", "0.3"}},
    };
    rows.insert(rows.end(), more.begin(), more.end());
    return rows;
}

struct Exchange {
    QStringList cli;              /* the command; "{dir}" is the row's folder */
    std::vector<std::string> sim; /* q7sim's options for every row */
    qint64 failWithinMs;          /* the exchange's time-out and a margin */
};

/* What a row's run and folder are checked with; `reference` is the first row's run. */
using RowCheck = std::function<void(const FaultRow &row, const CliRun &run, const CliRun &reference,
                                    const QString &dir)>;

/* A row that succeeds prints the fault-free run's JSON document. */
inline void sameJson(const FaultRow &row, const CliRun &run, const CliRun &reference,
                     const QString &)
{
    if (!row.failure) {
        EXPECT_EQ(run.json, reference.json) << run.out.toStdString();
    }
}

/*
 * Run every row against a q7sim of its own, all rows side by side (an exchange is mostly
 * waiting), and check each; returns the first row's run.
 */
inline CliRun runExchange(const Exchange &exchange, const std::vector<FaultRow> &rows,
                          const RowCheck &check)
{
    struct Running {
        QTemporaryDir dir;
        std::unique_ptr<SimProcess> sim;
        QProcess cli;
        QElapsedTimer clock;
        CliRun run;
    };
    std::vector<std::unique_ptr<Running>> running;
    for (size_t i = 0; i < rows.size(); ++i) {
        auto &r = *running.emplace_back(std::make_unique<Running>());
        const QString dir = r.dir.path();
        auto place = [&](QString text) { return text.replace(QLatin1String("{dir}"), dir); };
        std::vector<std::string> sim = {"--seed", std::to_string(i + 1)};
        for (const auto *list : {&exchange.sim, &rows[i].sim})
            for (const std::string &arg : *list)
                sim.push_back(place(QString::fromStdString(arg)).toStdString());
        r.sim = std::make_unique<SimProcess>(sim);
        QStringList args = {"--camera-address", "127.0.0.1", "--camera-port",
                            QString::number(r.sim->port())};
        for (const QString &arg : exchange.cli + rows[i].cli)
            args << place(arg);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVEX_DATA_DIR"), dir);
        env.insert(QStringLiteral("TZ"), QStringLiteral("Asia/Shanghai"));
        r.cli.setProcessEnvironment(env);
        r.cli.setStandardOutputFile(dir + "/cli.out");
        r.cli.setStandardErrorFile(dir + "/cli.err");
        r.cli.setStandardInputFile(QProcess::nullDevice());
        r.clock.start();
        if (r.sim->running())
            r.cli.start(QStringLiteral(ORVEX_CLI_PATH), args);
    }
    /* Note when each ends; a row still running after three minutes is killed. */
    for (bool waiting = true; waiting;) {
        waiting = false;
        for (auto &r : running) {
            if (r->run.ms || r->cli.state() == QProcess::NotRunning || r->cli.waitForFinished(10))
                r->run.ms = r->run.ms ? r->run.ms : std::max<qint64>(1, r->clock.elapsed());
            else if (r->clock.elapsed() > 180000)
                r->cli.kill();
            else
                waiting = true;
        }
    }
    CliRun reference;
    for (size_t i = 0; i < rows.size(); ++i) {
        const FaultRow &row = rows[i];
        Running &r = *running[i];
        std::string described;
        for (const std::string &arg : row.sim)
            described += arg + " ";
        SCOPED_TRACE("row " + std::to_string(i) + ": " + described);
        if (!r.sim->running()) {
            ADD_FAILURE() << r.sim->error();
            continue;
        }
        auto slurp = [&](const char *name) {
            QFile file(r.dir.filePath(QLatin1String(name)));
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        CliRun &run = r.run;
        run.status = r.cli.exitStatus() == QProcess::NormalExit ? r.cli.exitCode() : -1;
        run.out = slurp("cli.out");
        run.err = slurp("cli.err");
        run.json = QJsonDocument::fromJson(run.out.trimmed().split('\n').last().toUtf8()).object();
        if (i == 0)
            reference = run;
        if (row.failure) {
            EXPECT_EQ(run.status, 1) << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(QLatin1String(row.failure))) << run.err.toStdString();
            EXPECT_LT(run.ms, exchange.failWithinMs);
        } else {
            EXPECT_EQ(run.status, 0) << run.err.toStdString();
        }
        check(row, run, reference, r.dir.path());
    }
    return reference;
}

#endif
