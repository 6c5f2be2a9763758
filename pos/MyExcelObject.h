/*
 * A POS table read back: the positions and times of the rows of a ".xls"
 * POS table (whitespace-separated text, as the library's table writer and
 * the POS download page write it), for matching photographs with records.
 */
#ifndef ORVEX_POS_MYEXCELOBJECT_H
#define ORVEX_POS_MYEXCELOBJECT_H

#include <QList>
#include <QMetaType>
#include <QString>

/* Longitude and latitude in degrees, altitude in metres, as the table holds them. */
struct PosPoint {
    double lon;
    double lat;
    double alt;

    friend bool operator==(const PosPoint &, const PosPoint &) = default;
};
Q_DECLARE_TYPEINFO(PosPoint, Q_PRIMITIVE_TYPE);

class MyExcelObject {
public:
    /* Time of a row whose Time value is absent or not a valid date and time. */
    static constexpr quint32 InvalidTime = 4294967295u;

    /* Comma-separated pieces over all lines: the number of lines when there is no comma. */
    int lineCount = 0;
    /* The last "/"-separated part of the path. */
    QString fileName;
    /* The path passed to load(). */
    QString path;
    /* One per record: seconds since 1970 (UTC) of its Time read as local time, or InvalidTime. */
    QList<quint32> timeList;
    /* One per record: its Lon, Lat and Alt columns. */
    QList<PosPoint> positionList;
    /* Data lines that could not be read (wrong number of cells, a position that is no number). */
    int skippedLines = 0;
    /* Empty, or why the file could not be read. */
    QString error;

    /*
     * Replaces the contents with the table at `path`. Returns false only when
     * the file cannot be opened; the object is then empty and `error` says why.
     */
    bool load(const QString &path);

    /* A new object loaded from `path`. */
    static MyExcelObject read(const QString &path);
};

Q_DECLARE_METATYPE(MyExcelObject *)

#endif
