/*
 * The lens cards among the mounted volumes: each volume whose label marks a
 * lens, with the card's photo folder (the DCIM sub-folder that holds its
 * JPEG photos) and what it holds.
 */
#ifndef DATASERVICE_CARDFINDER_H
#define DATASERVICE_CARDFINDER_H

#include "platform/VolumeQuery.h"

#include <QList>
#include <QString>
#include <QStringList>

struct Card {
    int disk = -1; /* the lens (LensTable) */
    Volume volume;
    QString photoFolder; /* empty when the card has no DCIM folder with photos */
    int photos = 0;      /* JPEG photos in the photo folder */
    qint64 bytes = 0;    /* bytes of the files in the photo folder */
};

namespace CardFinder {

/*
 * The cards among `volumes`, one per lens in disk order. Two volumes of one
 * lens: the later one wins and `notes` says which was passed over.
 */
QList<Card> find(const QList<Volume> &volumes, QStringList *notes = nullptr);

/* The card's photo folder: the first sub-folder of DCIM, in name order, that holds JPEGs. */
QString photoFolder(const QString &mountPath);

/* Whether a file name is a JPEG photo's (".jpg" or ".jpeg", any case). */
bool isJpegName(const QString &name);

/* Count the photos and bytes of a folder's files (sub-folders are not counted). */
void measure(const QString &folder, int *photos, qint64 *bytes);

} // namespace CardFinder

#endif
