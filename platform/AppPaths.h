/*
 * Where the program keeps its files: written files in the per-user data
 * folder (or $ORVEX_DATA_DIR), read-only ones beside the executable or in the
 * installed data folder.
 */
#ifndef PLATFORM_APPPATHS_H
#define PLATFORM_APPPATHS_H

#include <QString>

namespace AppPaths {

/* The per-user data folder, created if missing; $ORVEX_DATA_DIR when set. */
QString dataDir();
/* The crash-report folder below the data folder, created if missing; empty when it cannot be. */
QString dumpDir();
/* The folder of the running executable. */
QString programDir();
/* A read-only file by name: beside the executable, then in the installed data folder. */
QString findReadOnly(const QString &name);

} // namespace AppPaths

#endif
