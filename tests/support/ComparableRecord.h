/*
 * What two transfers of the same cards must agree on in their offload record
 * and checksum lists: the record's file lines without their times, in any
 * order (the lenses append side by side), and no zip volume's hash (an
 * encrypted volume differs from run to run by its random headers). Other
 * files are returned as they are.
 */
#ifndef TESTS_SUPPORT_COMPARABLERECORD_H
#define TESTS_SUPPORT_COMPARABLERECORD_H

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

inline QByteArray comparableRecord(const QString &name, const QByteArray &bytes)
{
    const bool record = name.endsWith(QLatin1String("offload-record.jsonl"));
    if (!record && !name.endsWith(QLatin1String("XXH64SUMS")))
        return bytes;
    static const QRegularExpression time(QStringLiteral(",\"time\":\"[^\"]*\""));
    QStringList lines;
    for (const QString &line : QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts))
        if (record ? line.contains(QLatin1String("\"kind\":\"file\""))
                   : !line.endsWith(QLatin1String(".zip")))
            lines << QString(line).remove(time);
    lines.sort();
    return lines.join(u'\n').toUtf8();
}

#endif
