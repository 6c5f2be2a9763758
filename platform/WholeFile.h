/*
 * Replacing a file in one step, so that a crash or a power cut leaves the old
 * file or the new one, never a part of either.
 */
#ifndef PLATFORM_WHOLEFILE_H
#define PLATFORM_WHOLEFILE_H

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace WholeFile {

/*
 * `bytes` become `file`: written to a unique hidden temporary name beside it
 * (with `mode` from the start), synced, renamed over it, and the folder
 * synced. False with the system's reason in `why`; the temporary file is gone
 * then. Temporary files of this file that a killed write left are removed
 * first: every file has one writer at a time.
 */
bool replace(const QString &file, const QByteArray &bytes, mode_t mode, QString *why);

/* Fsync a folder, so that a rename or a new file in it survives a power cut; errno when false. */
bool syncFolder(const QString &folder);

} // namespace WholeFile

#endif
