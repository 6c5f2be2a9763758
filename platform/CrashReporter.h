/*
 * Crash reports: when the process dies of a fatal signal, a report with the
 * time, the signal and a backtrace is written to the dump folder as
 * yyyy_MM_dd_hh_mm_ss.dmp, then the signal takes its course.
 */
#ifndef PLATFORM_CRASHREPORTER_H
#define PLATFORM_CRASHREPORTER_H

#include <QString>

namespace CrashReporter {

/* Install the handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT, writing into `dumpDir`. */
bool install(const QString &dumpDir);

} // namespace CrashReporter

#endif
