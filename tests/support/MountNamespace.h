/*
 * Gives the test process a mount namespace of its own: cards that tests
 * elsewhere on the machine have mounted are neither seen nor touched (our
 * copies of their mounts go, theirs stay), and ours are not seen by them.
 * The programs the test starts inherit it. Empty when done, else why not.
 */
#ifndef TESTS_SUPPORT_MOUNTNAMESPACE_H
#define TESTS_SUPPORT_MOUNTNAMESPACE_H

#include "platform/VolumeQuery.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/mount.h>

inline std::string isolateMounts()
{
    if (unshare(CLONE_NEWNS) != 0)
        return std::string("unshare: ") + std::strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("private mounts: ") + std::strerror(errno);
    QFile info(QStringLiteral("/proc/self/mountinfo"));
    if (!info.open(QIODevice::ReadOnly) || info.readAll().contains(" shared:"))
        return "mounts are still shared with the rest of the machine";
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return "no mount table";
    for (const Volume &volume : VolumeQuery::parseMounts(mounts.readAll()))
        if (volume.device.startsWith(QLatin1String("/dev/loop")))
            umount2(QFile::encodeName(volume.mountPath).constData(), MNT_DETACH);
    return {};
}

#endif
