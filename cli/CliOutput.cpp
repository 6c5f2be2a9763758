#include "CliOutput.h"

#include <QJsonDocument>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t interruptFlag = 0;
/* The command's JSON document, printed when the command has ended and closed its link. */
QByteArray pendingJson;

void onInterrupt(int)
{
    interruptFlag = 1;
}
} // namespace

namespace CliOutput {

void line(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
}

bool confirm(const QString &question)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s [y/N] ", question.toLocal8Bit().constData());
    std::fflush(stderr);
    char answer[256];
    if (!std::fgets(answer, sizeof answer, stdin)) {
        std::fputc('\n', stderr);
        return false;
    }
    const QString word = QString::fromLocal8Bit(answer).trimmed().toLower();
    return word == QLatin1String("y") || word == QLatin1String("yes");
}

void json(const QJsonObject &document)
{
    pendingJson = QJsonDocument(document).toJson(QJsonDocument::Compact);
}

void flushJson()
{
    /* The library's diagnostics share standard output: ours comes last, whole. */
    std::fflush(stdout);
    if (pendingJson.isEmpty())
        return;
    std::fputs(pendingJson.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    pendingJson.clear();
}

int fail(const QString &text, int status)
{
    std::fflush(stdout);
    std::fprintf(stderr, "orvex-cli: %s\n", text.toUtf8().constData());
    return status;
}

bool interrupted()
{
    return interruptFlag != 0;
}

void installInterruptHandlers()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace CliOutput

ProgressReporter::ProgressReporter(const QString &label, const QString &unit)
    : m_label(label), m_unit(unit), m_terminal(isatty(STDERR_FILENO) == 1)
{
    m_clock.start();
}

ProgressReporter::~ProgressReporter()
{
    finish();
}

void ProgressReporter::update(qint64 done, qint64 total)
{
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    const QString unit = m_unit.isEmpty() ? QString() : QLatin1Char(' ') + m_unit;
    if (!m_terminal) {
        if (m_unit.isEmpty())
            std::fprintf(stderr, "%s: %d%%\n", m_label.toUtf8().constData(), percent);
        else
            std::fprintf(stderr, "%s: %d%% (%lld/%lld%s)\n", m_label.toUtf8().constData(), percent,
                         static_cast<long long>(done), static_cast<long long>(total),
                         unit.toUtf8().constData());
        return;
    }
    const double seconds = m_clock.elapsed() / 1000.0;
    const double rate = seconds > 0 ? done / seconds : 0;
    const QString left = rate > 0 && done < total
                             ? QStringLiteral(", %1 s left").arg((total - done) / rate, 0, 'f', 0)
                             : QString();
    const int width = 30;
    const int filled = percent * width / 100;
    const QString bar =
        QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char(' '));
    std::fprintf(stderr, "\r%s [%s] %3d%% %lld/%lld%s, %.0f%s/s%s ", m_label.toUtf8().constData(),
                 bar.toUtf8().constData(), percent, static_cast<long long>(done),
                 static_cast<long long>(total), unit.toUtf8().constData(), rate,
                 unit.toUtf8().constData(), left.toUtf8().constData());
    std::fflush(stderr);
    m_open = true;
}

void ProgressReporter::finish()
{
    if (m_open)
        std::fputc('\n', stderr);
    m_open = false;
}
