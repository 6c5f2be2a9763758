/*
 * What orvex-cli prints: lines for people on standard output, one JSON
 * document as the last line of standard output with --json, failures as one
 * English line on standard error, and progress on standard error (a redrawn
 * bar on a terminal, a line per percent step otherwise).
 */
#ifndef CLI_CLIOUTPUT_H
#define CLI_CLIOUTPUT_H

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace CliOutput {

/* Exit statuses. */
enum Status { Done = 0, Failed = 1, Usage = 2, Interrupted = 130 };

void line(const QString &text);
/* Keep `document` to print as the last line once the command has ended (flushJson). */
void json(const QJsonObject &document);
void flushJson();
/* "orvex-cli: <text>" on standard error; returns `status`. */
int fail(const QString &text, int status = Failed);
/*
 * Ask `question` on the terminal (standard error, with " [y/N] "); true only
 * for "y" or "yes". Closed standard input counts as no.
 */
bool confirm(const QString &question);

/* True once SIGINT or SIGTERM arrived (installInterruptHandlers). */
bool interrupted();
void installInterruptHandlers();

} // namespace CliOutput

class ProgressReporter {
public:
    /* `unit` names what is counted ("records", "bytes"). */
    explicit ProgressReporter(const QString &label, const QString &unit = QString());
    ~ProgressReporter();
    void update(qint64 done, qint64 total);
    /* Ends the bar's line. */
    void finish();

private:
    QString m_label;
    QString m_unit;
    bool m_terminal;
    int m_lastPercent = -1;
    bool m_open = false;
    QElapsedTimer m_clock;
};

#endif
