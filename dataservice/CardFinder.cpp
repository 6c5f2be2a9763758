#include "CardFinder.h"

#include "LensTable.h"

#include <QDir>
#include <QFileInfo>

namespace CardFinder {

bool isJpegName(const QString &name)
{
    return name.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".jpeg"), Qt::CaseInsensitive);
}

void measure(const QString &folder, int *photos, qint64 *bytes)
{
    *photos = 0;
    *bytes = 0;
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &file : files) {
        *photos += isJpegName(file.fileName());
        *bytes += file.size();
    }
}

QString photoFolder(const QString &mountPath)
{
    QDir root(mountPath);
    /* Cards write DCIM in capitals; accept any case, as their file systems do. */
    QString dcim;
    for (const QString &name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (name.compare(QLatin1String("DCIM"), Qt::CaseInsensitive) == 0)
            dcim = root.filePath(name);
    if (dcim.isEmpty())
        return QString();
    const QDir dir(dcim);
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir candidate(dir.filePath(name));
        for (const QString &file : candidate.entryList(QDir::Files | QDir::Hidden))
            if (isJpegName(file))
                return candidate.path();
    }
    return QString();
}

QList<Card> find(const QList<Volume> &volumes, QStringList *notes)
{
    QList<Card> byDisk(LensTable::count);
    for (const Volume &volume : volumes) {
        const int disk = LensTable::diskForLabel(volume.label);
        if (disk < 0)
            continue;
        Card &card = byDisk[disk];
        if (card.disk >= 0 && notes)
            *notes << QStringLiteral("two cards for lens %1: %2 (%3) is used, %4 (%5) is not")
                          .arg(LensTable::lens(disk).key, volume.mountPath, volume.label,
                               card.volume.mountPath, card.volume.label);
        card = Card{};
        card.disk = disk;
        card.volume = volume;
        card.photoFolder = photoFolder(volume.mountPath);
        if (!card.photoFolder.isEmpty())
            measure(card.photoFolder, &card.photos, &card.bytes);
    }
    QList<Card> cards;
    for (const Card &card : std::as_const(byDisk))
        if (card.disk >= 0)
            cards << card;
    return cards;
}

} // namespace CardFinder
