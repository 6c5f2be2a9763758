#include "CheckQ7Thread.h"

#include "CardSpace.h"
#include "dataservice/CardFinder.h"
#include "dataservice/LensTable.h"

CheckQ7Thread::CheckQ7Thread(const QStringList &drives, QObject *parent)
    : QThread(parent), m_drives(drives)
{
}

QStringList CheckQ7Thread::currentDrives()
{
    QStringList drives(LensTable::count);
    for (const Card &card : CardFinder::find(VolumeQuery::mountedVolumes()))
        drives[card.disk] = card.volume.mountPath;
    return drives;
}

void CheckQ7Thread::run()
{
    constexpr double gigabyte = 1073741824.0;
    bool anyCard = false;
    for (int disk = 0; disk < m_drives.size() && disk < LensTable::count; ++disk) {
        qint64 freeBytes = 0;
        qint64 totalBytes = 0;
        /* A card pulled since it was found, or one whose query fails, shows as not there. */
        if (m_drives[disk].isEmpty() ||
            !CardSpace::measure(m_drives[disk], &freeBytes, &totalBytes)) {
            emit measured(disk, -1.0, -1.0);
            continue;
        }
        anyCard = true;
        emit measured(disk, freeBytes / gigabyte, totalBytes / gigabyte);
    }
    if (anyCard)
        emit upgrade();
    else
        emit popui();
}
