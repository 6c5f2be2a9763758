#include "UsbPosFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString two(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

/*
 * The camera stamps its files in UTC and the listing shows Beijing time: the
 * modification time's fields are taken as they read and moved by 8 hours, as
 * the device list moves the camera's own times.
 */
void timeTexts(const QFileInfo &info, UsbPosFile &file)
{
    const QDateTime modified = info.lastModified();
    if (!modified.isValid()) {
        file.timeText = QStringLiteral("2000-00-00 00-00-00");
        file.digits = QStringLiteral("20000000000000");
        return;
    }
    const QDateTime shifted =
        QDateTime(modified.date(), modified.time(), Qt::UTC).addSecs(8 * 3600);
    const QDate d = shifted.date();
    const QTime t = shifted.time();
    file.timeText =
        QStringLiteral("%1-%2-%3 %4-%5-%6")
            .arg(d.year())
            .arg(two(d.month()), two(d.day()), two(t.hour()), two(t.minute()), two(t.second()));
    file.digits = QString::number(d.year()) + two(d.month()) + two(d.day()) + two(t.hour()) +
                  two(t.minute()) + two(t.second());
}

} // namespace

namespace UsbPosFiles {

UsbPosListing list(const QString &folder, int recordSize)
{
    UsbPosListing listing;
    QDir dir(folder);
    if (!dir.exists()) {
        listing.problems << QStringLiteral("%1: no such folder").arg(folder);
        return listing;
    }
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo &info : entries) {
        QFile probe(info.absoluteFilePath());
        if (!probe.open(QIODevice::ReadOnly)) {
            listing.problems << QStringLiteral("%1: cannot be read: %2")
                                    .arg(info.absoluteFilePath(), probe.errorString());
            continue;
        }
        UsbPosFile file;
        file.id = static_cast<int>(listing.files.size()) + 1;
        file.path = info.absoluteFilePath();
        file.name = info.fileName();
        file.size = probe.size();
        if (recordSize > 0) {
            file.records = static_cast<int>(file.size / recordSize);
            file.trailingBytes = static_cast<int>(file.size % recordSize);
        }
        timeTexts(info, file);
        listing.files << file;
    }
    return listing;
}

} // namespace UsbPosFiles
