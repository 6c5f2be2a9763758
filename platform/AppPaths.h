/*
 * Where the program keeps its files: written files in the per-user data
 * folder (or $ORVEX_DATA_DIR), read-only ones beside the executable or in the
 * installed data folder.
 */
#ifndef PLATFORM_APPPATHS_H
#define PLATFORM_APPPATHS_H

#include <QString>
#include <QStringList>

namespace AppPaths {

/* The per-user data folder, created if missing; $ORVEX_DATA_DIR when set. */
QString dataDir();
/* The crash-report folder below the data folder, created if missing; empty when it cannot be. */
QString dumpDir();
/* The folder of the running executable. */
QString programDir();
/* The installed data folder fixed at build time (by default /usr/share/orvex). */
QString installedDataDir();
/*
 * The folders a shipped read-only file (UpdateConfig.xml, the replacement card-file folder,
 * the help document) is looked for in, in order: beside the executable (the build tree, or a
 * copy of the program with its files), the per-user application data folder (where a user may
 * put a newer one) and the installed data folder.
 */
QStringList sharedDirs();
/*
 * The first of sharedDirs() that holds `name` (a file or a folder): its full path, or empty
 * when none does. `lookedIn` (may be null) gets the folders looked in, for a message.
 */
QString findShared(const QString &name, QStringList *lookedIn = nullptr);
/* As findShared, but the path beside the executable when none holds `name`. */
QString findReadOnly(const QString &name);

} // namespace AppPaths

#endif
