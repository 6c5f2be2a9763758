#include "CrashReporter.h"

#include <QByteArray>
#include <QDateTime>

#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

/* Everything the handler needs is prepared here: it may only use async-signal-safe calls. */
char dump_dir[4096];
long utc_offset_seconds = 0;
const int fatal_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void append(char *&out, const char *end, const char *text)
{
    while (*text && out < end)
        *out++ = *text++;
}

void append_number(char *&out, const char *end, long value, int width)
{
    char digits[24];
    int n = 0;
    const bool negative = value < 0;
    unsigned long magnitude = negative ? 0UL - static_cast<unsigned long>(value) : value;
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude && n < 20);
    while (n < width)
        digits[n++] = '0';
    if (negative && out < end)
        *out++ = '-';
    while (n > 0 && out < end)
        *out++ = digits[--n];
}

/* Civil date from days since 1970-01-01 (Howard Hinnant's algorithm), signal-safe. */
void civil_from_days(long days, long &year, long &month, long &day)
{
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long doe = days - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

void on_fatal_signal(int signal_number)
{
    const long now = static_cast<long>(time(nullptr)) + utc_offset_seconds;
    long days = now / 86400;
    long seconds = now % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    long year, month, day;
    civil_from_days(days, year, month, day);

    char stamp[32];
    char *out = stamp;
    const char *end = stamp + sizeof stamp - 1;
    append_number(out, end, year, 4);
    append(out, end, "_");
    append_number(out, end, month, 2);
    append(out, end, "_");
    append_number(out, end, day, 2);
    append(out, end, "_");
    append_number(out, end, seconds / 3600, 2);
    append(out, end, "_");
    append_number(out, end, seconds / 60 % 60, 2);
    append(out, end, "_");
    append_number(out, end, seconds % 60, 2);
    *out = '\0';

    char path[sizeof dump_dir + 64];
    out = path;
    end = path + sizeof path - 1;
    append(out, end, dump_dir);
    append(out, end, "/");
    append(out, end, stamp);
    append(out, end, ".dmp");
    *out = '\0';

    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        static const char message[] = "hDumpFile == null\n";
        (void)!write(STDERR_FILENO, message, sizeof message - 1);
    } else {
        char text[256];
        out = text;
        end = text + sizeof text - 1;
        append(out, end, "Orvex crash report\ntime: ");
        append(out, end, stamp);
        append(out, end, "\nsignal: ");
        append_number(out, end, signal_number, 1);
        append(out, end, " (");
        append(out, end, sigabbrev_np(signal_number) ? sigabbrev_np(signal_number) : "?");
        append(out, end, ")\nprocess: ");
        append_number(out, end, static_cast<long>(getpid()), 1);
        append(out, end, "\nbacktrace:\n");
        (void)!write(fd, text, static_cast<size_t>(out - text));
        void *frames[64];
        const int depth = backtrace(frames, 64);
        backtrace_symbols_fd(frames, depth, fd);
        close(fd);
    }
    /* Let the signal end the process as it would have without us. */
    std::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

} // namespace

namespace CrashReporter {

bool install(const QString &dumpDir)
{
    const QByteArray dir = dumpDir.toLocal8Bit();
    if (dir.isEmpty() || static_cast<size_t>(dir.size()) >= sizeof dump_dir)
        return false;
    std::memcpy(dump_dir, dir.constData(), static_cast<size_t>(dir.size()) + 1);
    utc_offset_seconds = QDateTime::currentDateTime().offsetFromUtc();
    /* backtrace() loads its unwinder on first use; do that now, not inside the handler. */
    void *warm[4];
    backtrace(warm, 4);
    struct sigaction action = {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int signal_number : fatal_signals)
        sigaction(signal_number, &action, nullptr);
    return true;
}

} // namespace CrashReporter
