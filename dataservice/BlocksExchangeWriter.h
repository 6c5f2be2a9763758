/*
 * The BlocksExchange files of a completed transfer: one per sortie (one POS
 * table, one flight), "第N架次.xml" in the save folder, listing the photos of
 * every lens shot during that sortie with the position of their POS record,
 * for photogrammetry software to import.
 */
#ifndef DATASERVICE_BLOCKSEXCHANGEWRITER_H
#define DATASERVICE_BLOCKSEXCHANGEWRITER_H

#include "Geotagger.h"

#include <QList>
#include <QString>
#include <QStringList>

/* One line of a photo information file. */
struct PhotoLine {
    QString path;
    QString model;
    QString make;
    QString focalLength; /* as written: a whole number of millimetres */
    int width = 0;
    int height = 0;
    qint64 time = 0; /* shooting time, seconds since 1970 */
    QString dateText;
};

/* A sortie: the times and positions of one POS table, index-aligned. */
struct Sortie {
    QList<quint32> times;
    QList<GeoPosition> positions;
};

/* The photos of one lens, from its information file. */
struct LensPhotos {
    int disk = -1; /* LensTable disk number */
    QList<PhotoLine> lines;
};

namespace BlocksExchangeWriter {

/*
 * The data lines of a photo information file. When a photo appears more than
 * once (a resumed transfer processed it again), its last line is used, at the
 * place of its first one; every photo appears once. `skipped` counts lines
 * that are not photo lines (torn, garbage). Empty with `error` when the file
 * cannot be read.
 */
QList<PhotoLine> readPhotoLines(const QString &path, int *skipped = nullptr,
                                QString *error = nullptr);

/*
 * Which photos of a lens belong to which sortie: for sortie k, the indices
 * into `lines` in order. The lens's clock offset is taken from its first
 * photo against the first sortie's first time; a photo belongs to sortie k
 * when its time plus the offset lies within the sortie's first and last time
 * widened by 2 s.
 */
QList<QList<int>> assign(const QList<Sortie> &sorties, const QList<PhotoLine> &lines);

/*
 * Write "第N架次.xml" for every sortie into `saveDir` (each to a temporary
 * name, renamed when whole). A photo matched beyond its sortie's records is
 * listed without a Pose. `written` gets the files; false with `error`.
 */
bool write(const QString &saveDir, const QList<Sortie> &sorties, const QList<LensPhotos> &lenses,
           QStringList *written, QString *error);

} // namespace BlocksExchangeWriter

#endif
