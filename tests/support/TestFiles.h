// Whole-file reads and writes, file hashes and POS tables, as the end-to-end tests use them.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>

/* The bytes of a file; empty when it cannot be read. */
inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/* Writes a whole file, making its folder first. */
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}

/* SHA-256 of a file in hex; empty when it cannot be read. */
inline QString sha256(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file)
               ? QString::fromLatin1(hash.result().toHex())
               : QString();
}

/* Flips the bits of one byte of a file, in place. */
inline bool flipByte(const QString &path, qint64 offset)
{
    QFile file(path);
    char byte = 0;
    return file.open(QIODevice::ReadWrite) && file.seek(offset) && file.getChar(&byte) &&
           file.seek(offset) && file.putChar(char(~byte));
}

/* One record of a POS table as the camera's download writes it; time "2023-06-14 11-00-02". */
struct PosRow {
    double lon, lat, alt;
    QString time;
};

/* The text of a POS table of these records, numbered from 1. */
inline QByteArray posTable(const QList<PosRow> &rows)
{
    QByteArray text = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \r\n";
    int id = 0;
    for (const PosRow &row : rows)
        text += QStringLiteral("%1 \t%2 \t%3 \t%4 \t1.70 \t0.0 \t0.0 \t0.00 \t20.0 \t%5 \t \r\n")
                    .arg(++id)
                    .arg(row.lon, 0, 'f', 7)
                    .arg(row.lat, 0, 'f', 7)
                    .arg(row.alt, 0, 'f', 3)
                    .arg(row.time)
                    .toUtf8();
    return text;
}
