/*
 * The photo information file of a lens ("center.txt" and the like, in the
 * data folder): one line per processed photo with its path, camera model and
 * make, focal length, size and shooting time, which the BlocksExchange export
 * reads back. Lines are appended and flushed one by one.
 */
#ifndef DATASERVICE_PHOTOINFOFILE_H
#define DATASERVICE_PHOTOINFOFILE_H

#include "Geotagger.h"

#include <QString>
#include <cstdio>
#include <mutex>

class PhotoInfoFile {
public:
    /* The file of the lens with lower-case `key` ("center") in `dataDir`. */
    PhotoInfoFile(const QString &dataDir, const QString &key);
    ~PhotoInfoFile();
    PhotoInfoFile(const PhotoInfoFile &) = delete;
    PhotoInfoFile &operator=(const PhotoInfoFile &) = delete;

    QString path() const { return m_path; }

    /*
     * A fresh transfer: an existing file is kept under a dated name
     * ("center-20261207-153000.txt") so that lines of two transfers never mix.
     * False with `error` when it cannot be renamed.
     */
    bool startFresh(QString *error);

    /*
     * Append the line of one photo (the header line first, when this object
     * has not written yet), flushed. Safe to call from the lens's worker
     * thread. False with `error` when the file cannot be opened or written.
     */
    bool append(const QString &photoPath, const PhotoInfo &info, QString *error);

    /*
     * A resumed transfer: the file is rewritten to hold exactly the lines of
     * the photos already copied (`copies`, in order), read from the copies'
     * own headers, as an uninterrupted transfer would have it at this point:
     * a line the killed run wrote for a photo it did not finish goes, a line
     * it did not get to write comes back, a torn line goes.
     */
    bool rebuild(const QStringList &copies, QString *error);

private:
    QString m_path;
    std::mutex m_mutex;
    FILE *m_file = nullptr;
};

#endif
