#include "ChecksumList.h"

#include "FileHash.h"
#include "OffloadRecord.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QHash>

namespace ChecksumList {

QString fileName()
{
    return QStringLiteral("XXH64SUMS");
}

QByteArray format(const QList<Entry> &entries)
{
    QByteArray text;
    for (const Entry &entry : entries)
        text += FileHash::hex(entry.hash).toLatin1() + "  " + entry.name.toUtf8() + '\n';
    return text;
}

std::optional<QList<Entry>> read(const QString &folder, QString *error)
{
    QFile file(QDir(folder).filePath(fileName()));
    if (!file.exists())
        return QList<Entry>();
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return std::nullopt;
    }
    QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    QList<Entry> entries;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const std::optional<quint64> hash = FileHash::fromHex(QString::fromLatin1(line.left(16)));
        if (!hash || line.size() < 19 || line.mid(16, 2) != "  ") {
            *error = QStringLiteral("%1, line %2: not \"<16 hex digits>  <file name>\"")
                         .arg(file.fileName())
                         .arg(i + 1);
            return std::nullopt;
        }
        entries.append({QString::fromUtf8(line.mid(18)), *hash});
    }
    return entries;
}

bool update(const QString &folder, const QList<Entry> &entries, QString *error)
{
    for (const Entry &entry : entries)
        if (!OffloadRecord::isRecordPath(entry.name) || entry.name.contains(QLatin1Char('\n'))) {
            *error = QStringLiteral("%1: the name '%2' cannot stand in a checksum list")
                         .arg(QDir(folder).filePath(fileName()), entry.name);
            return false;
        }
    std::optional<QList<Entry>> list = read(folder, error);
    if (!list)
        return false;
    QHash<QString, qsizetype> at;
    for (qsizetype i = 0; i < list->size(); ++i)
        at.insert(list->at(i).name, i);
    for (const Entry &entry : entries) {
        const auto known = at.constFind(entry.name);
        if (known != at.cend()) {
            (*list)[*known] = entry;
        } else {
            at.insert(entry.name, list->size());
            list->append(entry);
        }
    }

    const QString target = QDir(folder).filePath(fileName());
    QString why;
    if (!WholeFile::replace(target, format(*list), 0644, &why)) {
        *error = QStringLiteral("cannot write %1: %2").arg(target, why);
        return false;
    }
    return true;
}

} // namespace ChecksumList
