#include "PosRules.h"

#include "tavrin/tavrin.h"

#include <QFileInfo>

namespace PosRules {

int recordSizeForSerial(const QString &serial)
{
    if (serial.startsWith(QLatin1String("Q7X"))) {
        const QChar fourth = serial.size() > 3 ? serial.at(3) : QChar();
        if (fourth == QLatin1Char('1') || fourth == QLatin1Char('2') || fourth == QLatin1Char('3'))
            return 32;
        if (fourth == QLatin1Char('4') || fourth == QLatin1Char('5'))
            return 52;
        return 0;
    }
    return serial.startsWith(QLatin1String("Q7")) ? 32 : 0;
}

double firmwareNumber(int major, int minor)
{
    double scale = 10;
    while (minor >= scale)
        scale *= 10;
    return major + minor / scale;
}

Protocol protocolFor(double firmware)
{
    /* Compared with a margin: 3.31 and 4.5 are not exact in binary. */
    if (firmware < 3.31 - 1e-9)
        return Protocol::Plain;
    if (firmware < 4.5 - 1e-9)
        return Protocol::EndMarker;
    return Protocol::Acknowledged;
}

namespace {

/* The path without the suffix of its file name (from the last "." of the name on). */
QString stemOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    /* A dot at the start of the name is part of it (".xls" alone is a hidden name). */
    if (dot <= slash + 1)
        return path;
    return path.left(dot);
}

QString two(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

void localFields(const uint8_t utc[6], uint8_t out[6])
{
    for (int i = 0; i < 6; ++i)
        out[i] = utc[i];
    _utc2localtime(&out[0], &out[1], &out[2], &out[3], &out[4], &out[5]);
}

} // namespace

QString downloadPath(const QString &chosen, int selected, int id)
{
    if (selected <= 1)
        return chosen;
    return stemOf(chosen) + QString::number(id) + QStringLiteral(".xls");
}

QString lensTablePath(const QString &table, int lens)
{
    return stemOf(table) + lensNames.value(lens) + QStringLiteral(".xls");
}

QString listTimeText(const uint8_t utc[6])
{
    uint8_t t[6];
    localFields(utc, t);
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(2000 + t[0])
        .arg(two(t[1]), two(t[2]), two(t[3]), two(t[4]), two(t[5]));
}

QString digitsTimeText(const uint8_t utc[6])
{
    uint8_t t[6];
    localFields(utc, t);
    return QString::number(2000 + t[0]) + two(t[1]) + two(t[2]) + two(t[3]) + two(t[4]) + two(t[5]);
}

QString defaultName(const QString &digits)
{
    return digits + QStringLiteral("POS点数据");
}

QString usbTableName(const QString &digits, int selected, int k)
{
    if (selected <= 1)
        return digits + QStringLiteral("POS点数据.xls");
    return digits + QStringLiteral("POS点数据%1.xls").arg(k + 1);
}

QString progressText(int cursor, int selected, uint32_t size, int recordSize, double percent)
{
    if (size == 0 || (recordSize != 32 && recordSize != 52) || cursor >= selected)
        return QString();
    return QStringLiteral("%1/%2: 共:%3个 ,已下载:%4%")
        .arg(cursor + 1)
        .arg(selected)
        .arg(size / static_cast<uint32_t>(recordSize))
        .arg(percent, 0, 'f', 2);
}

} // namespace PosRules
