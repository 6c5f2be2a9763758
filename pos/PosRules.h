/*
 * The POS page's decisions that the desktop page and orvex-cli share: the
 * record size a serial number implies, which download protocol a firmware
 * speaks, the names of downloaded and exported tables, and the texts of the
 * file lists.
 */
#ifndef POS_POSRULES_H
#define POS_POSRULES_H

#include <QString>
#include <QStringList>
#include <cstdint>

namespace PosRules {

/* The five lens tables, in the camera's device order (cameras 1 to 5). */
inline const QStringList lensNames = {QStringLiteral("Front"), QStringLiteral("Right"),
                                      QStringLiteral("Back"), QStringLiteral("Left"),
                                      QStringLiteral("Center")};

/* 32 or 52 bytes a POS record for a serial number; 0 when the serial number does not tell. */
int recordSizeForSerial(const QString &serial);

/* The firmware version as the decimal number it reads as: 4.41 < 4.5 < 5.0. */
double firmwareNumber(int major, int minor);

/* How a firmware downloads a POS file. */
enum class Protocol {
    Plain,       /* before 3.31: 'O' records, finished when every byte has come */
    EndMarker,   /* 3.31 up to 4.5: offset records, the camera's end marker finishes */
    Acknowledged /* 4.5 and later: offset records, acknowledged, then the end marker */
};
Protocol protocolFor(double firmware);

/*
 * Where the download of one of `selected` files goes: the chosen path itself
 * for one file; otherwise the chosen file name's stem (up to its last ".")
 * followed by the row's ID and ".xls", in the chosen folder.
 */
QString downloadPath(const QString &chosen, int selected, int id);

/* A lens table beside `table`: its stem followed by the lens name and ".xls". */
QString lensTablePath(const QString &table, int lens);

/* A file's start time (UTC fields) as the file list shows it, in local time. */
QString listTimeText(const uint8_t utc[6]);
/* The same time as 14 digits, the start of default file names. */
QString digitsTimeText(const uint8_t utc[6]);

/* The default name offered for a download starting with that time text. */
QString defaultName(const QString &digits);

/* The table name of the k-th (0-based) of `selected` USB files. */
QString usbTableName(const QString &digits, int selected, int k);

/* The status line while file `cursor` (0-based) of `selected` downloads. */
QString progressText(int cursor, int selected, uint32_t size, int recordSize, double percent);

} // namespace PosRules

#endif
