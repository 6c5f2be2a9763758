/*
 * The camera's POS storage as a USB volume: a volume whose label contains
 * "KORVELLAPOS" holds raw POS files (records of 32 or 52 bytes, big-endian)
 * in its root folder. This lists them as the POS page shows them.
 */
#ifndef POS_USBPOSFILES_H
#define POS_USBPOSFILES_H

#include <QList>
#include <QString>
#include <QStringList>

/* The label text that marks the USB POS volume. */
inline const QString usbPosLabel = QStringLiteral("KORVELLAPOS");

struct UsbPosFile {
    int id = 0; /* row number, from 1 */
    QString path;
    QString name;
    qint64 size = 0;
    int records = 0;       /* whole records */
    int trailingBytes = 0; /* bytes after the last whole record, not exported */
    QString timeText;      /* "YYYY-MM-DD hh-mm-ss" */
    QString digits;        /* the same time as 14 digits */
};

struct UsbPosListing {
    QList<UsbPosFile> files;
    /* One English line for each file that could not be read; the others are listed. */
    QStringList problems;
};

namespace UsbPosFiles {

/* The files of `folder` (the volume's mount folder) in name order, for `recordSize` (32, 52). */
UsbPosListing list(const QString &folder, int recordSize);

} // namespace UsbPosFiles

#endif
