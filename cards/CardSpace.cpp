#include "CardSpace.h"

#include <QFileInfo>
#include <QStorageInfo>

namespace CardSpace {

bool measure(const QString &mountPath, qint64 *freeBytes, qint64 *totalBytes)
{
    *freeBytes = -1;
    *totalBytes = -1;
    const QString path = QFileInfo(mountPath).canonicalFilePath();
    if (path.isEmpty())
        return false;
    const QStorageInfo storage(path);
    /* A folder inside another volume is no card: it would report that volume's space. */
    if (!storage.isValid() || !storage.isReady() ||
        QFileInfo(storage.rootPath()).canonicalFilePath() != path)
        return false;
    const qint64 total = storage.bytesTotal();
    const qint64 available = storage.bytesAvailable();
    if (total <= 0 || available < 0)
        return false;
    *freeBytes = available;
    *totalBytes = total;
    return true;
}

} // namespace CardSpace
