/*
 * One lock for every conversion to or from local time (mktime, localtime_r,
 * QDateTime's local time). The C library serialises them with a lock of its
 * own that the thread sanitizer cannot see; taking this one around them lets
 * it see that workers converting times at once do not race.
 */
#ifndef PLATFORM_LOCALTIME_H
#define PLATFORM_LOCALTIME_H

#include <mutex>

inline std::mutex &localTimeLock()
{
    static std::mutex lock;
    return lock;
}

#endif
