#include "BlocksExchangeWriter.h"

#include "LensTable.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

/* Photo groups in file order, by disk number: Right, Left, Back, Front, Centre. */
constexpr int groupOrder[LensTable::count] = {2, 1, 4, 3, 0};

/* The seven fields after the path; the path itself may hold commas. */
constexpr int tailFields = 7;

bool isHeader(const QString &line)
{
    return line.startsWith(QStringLiteral("照片路径,"));
}

/*
 * One data line: the path, then model, make, focal length, width, height,
 * time and date text. EXIF text never holds a comma (the writer replaces
 * them), so the last seven fields are the tail and whatever precedes them is
 * the path.
 */
bool parseLine(const QString &line, PhotoLine *out)
{
    const QStringList fields = line.split(QLatin1Char(','));
    if (fields.size() < tailFields + 1)
        return false;
    const qsizetype t = fields.size() - tailFields;
    bool widthOk = false;
    bool heightOk = false;
    bool timeOk = false;
    out->path = fields.mid(0, t).join(QLatin1Char(','));
    out->model = fields[t];
    out->make = fields[t + 1];
    out->focalLength = fields[t + 2];
    out->width = fields[t + 3].toInt(&widthOk);
    out->height = fields[t + 4].toInt(&heightOk);
    out->time = fields[t + 5].toLongLong(&timeOk);
    out->dateText = fields[t + 6];
    return !out->path.isEmpty() && widthOk && heightOk && timeOk;
}

QString fileName(const QString &path)
{
    const qsizetype slash =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(slash + 1);
}

/* Text as XML 1.0 can carry it: characters it cannot hold become U+FFFD. */
QString xmlText(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                          QChar::isLowSurrogate(text.at(i + 1).unicode());
        if (pair)
            ++i;
        else if ((c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || QChar::isSurrogate(c) ||
                 c == 0xFFFE || c == 0xFFFF)
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

void textElement(QXmlStreamWriter &xml, const char *name, const QString &text)
{
    xml.writeTextElement(QLatin1String(name), xmlText(text));
}

QByteArray sortieXml(int n, const Sortie &sortie, const QList<const LensPhotos *> &groups,
                     const QList<QList<QList<int>>> &assigned, int k)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("BlocksExchange"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("3.2"));

    xml.writeStartElement(QStringLiteral("SpatialReferenceSystems"));
    xml.writeStartElement(QStringLiteral("SRS"));
    textElement(xml, "Id", QStringLiteral("0"));
    textElement(xml, "Name", QStringLiteral("WGS 84 (EPSG:4326)"));
    textElement(xml, "Definition", QStringLiteral("EPSG:4326"));
    xml.writeEndElement();
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("Block"));
    textElement(xml, "Name", QStringLiteral("Block_%1.xml").arg(n));
    textElement(xml, "Description", QStringLiteral("export from"));
    textElement(xml, "SRSId", QStringLiteral("0"));
    xml.writeStartElement(QStringLiteral("Photogroups"));
    int id = 0;
    for (qsizetype g = 0; g < groups.size(); ++g) {
        const LensPhotos &lens = *groups[g];
        const PhotoLine camera = lens.lines.isEmpty() ? PhotoLine() : lens.lines.first();
        xml.writeStartElement(QStringLiteral("Photogroup"));
        textElement(xml, "Name", QStringLiteral("Photogroup %1").arg(g + 1));
        xml.writeStartElement(QStringLiteral("ImageDimensions"));
        textElement(xml, "Width", QString::number(camera.width));
        textElement(xml, "Height", QString::number(camera.height));
        xml.writeEndElement();
        textElement(xml, "CameraModelType", QStringLiteral("Perspective"));
        textElement(xml, "FocalLength", camera.focalLength);
        textElement(xml, "SensorSize", QStringLiteral("23.5"));
        xml.writeStartElement(QStringLiteral("ExifData"));
        textElement(xml, "Make", camera.make);
        textElement(xml, "Model", camera.model);
        xml.writeEndElement();
        textElement(xml, "AspectRatio", QStringLiteral("1.000000"));

        const QString folder =
            QStringLiteral(".\\") + LensTable::lens(lens.disk).word + QLatin1Char('\\');
        const QList<int> &photos = assigned[g][k];
        for (qsizetype record = 0; record < photos.size(); ++record) {
            const PhotoLine &photo = lens.lines[photos[record]];
            xml.writeStartElement(QStringLiteral("Photo"));
            textElement(xml, "Id", QString::number(++id));
            textElement(xml, "ImagePath", folder + fileName(photo.path));
            if (record < sortie.positions.size()) {
                const GeoPosition &p = sortie.positions[record];
                xml.writeStartElement(QStringLiteral("Pose"));
                xml.writeStartElement(QStringLiteral("Center"));
                textElement(xml, "x", QString::number(p.lon, 'g', 6));
                textElement(xml, "y", QString::number(p.lat, 'g', 6));
                textElement(xml, "z", QString::number(p.alt, 'g', 6));
                xml.writeEndElement();
                xml.writeEndElement();
            }
            xml.writeStartElement(QStringLiteral("ExifData"));
            textElement(xml, "Make", camera.make);
            textElement(xml, "Model", camera.model);
            textElement(xml, "DateTimeOriginal",
                        QDateTime::fromSecsSinceEpoch(photo.time)
                            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
            xml.writeEndElement();
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return bytes;
}

} // namespace

namespace BlocksExchangeWriter {

QList<PhotoLine> readPhotoLines(const QString &path, int *skipped, QString *error)
{
    if (skipped)
        *skipped = 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }

    QList<PhotoLine> lines;
    QHash<QString, qsizetype> seen; // path -> its place in `lines`
    int bad = 0;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', start);
        if (end < 0) { // torn: the writer stopped inside its last line
            ++bad;
            break;
        }
        QString line = QString::fromUtf8(bytes.constData() + start, end - start);
        start = end + 1;
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.isEmpty() || isHeader(line))
            continue;
        PhotoLine photo;
        if (!parseLine(line, &photo)) {
            ++bad;
            continue;
        }
        const auto at = seen.constFind(photo.path);
        if (at != seen.constEnd()) {
            lines[*at] = photo; // processed again on resume: the last line holds
        } else {
            seen.insert(photo.path, lines.size());
            lines.append(photo);
        }
    }
    if (skipped)
        *skipped = bad;
    return lines;
}

/*
 * The offset comes from the first sortie that has times (normally the first):
 * a table without times has no first time to set a clock by.
 */
QList<QList<int>> assign(const QList<Sortie> &sorties, const QList<PhotoLine> &lines)
{
    QList<QList<int>> result(sorties.size());
    const auto base = std::find_if(sorties.cbegin(), sorties.cend(),
                                   [](const Sortie &s) { return !s.times.isEmpty(); });
    if (base == sorties.cend() || lines.isEmpty())
        return result;
    const qint64 first = lines.first().time;
    const qint64 reference = base->times.first();

    for (qsizetype i = 0; i < lines.size(); ++i) {
        // t + (reference - first), kept from overflowing on garbage times
        qint64 delta = 0;
        qint64 adjusted = 0;
        if (__builtin_sub_overflow(lines[i].time, first, &delta) ||
            __builtin_add_overflow(delta, reference, &adjusted))
            continue;
        for (qsizetype k = 0; k < sorties.size(); ++k) {
            const QList<quint32> &times = sorties[k].times;
            if (times.isEmpty())
                continue;
            if (qint64(times.first()) - 2 <= adjusted && adjusted <= qint64(times.last()) + 2)
                result[k].append(int(i));
        }
    }
    return result;
}

bool write(const QString &saveDir, const QList<Sortie> &sorties, const QList<LensPhotos> &lenses,
           QStringList *written, QString *error)
{
    if (written)
        written->clear();
    for (const LensPhotos &lens : lenses) {
        if (lens.disk < 0 || lens.disk >= LensTable::count) {
            if (error)
                *error = QStringLiteral("no lens has disk number %1").arg(lens.disk);
            return false;
        }
    }
    QList<const LensPhotos *> groups;
    QList<QList<QList<int>>> assigned; // per group, per sortie
    for (int disk : groupOrder) {
        for (const LensPhotos &lens : lenses) {
            if (lens.disk == disk) {
                groups.append(&lens);
                assigned.append(assign(sorties, lens.lines));
            }
        }
    }

    for (qsizetype k = 0; k < sorties.size(); ++k) {
        const int n = int(k) + 1;
        const QString path = saveDir + QStringLiteral("/第%1架次.xml").arg(n);
        const QByteArray bytes = sortieXml(n, sorties[k], groups, assigned, int(k));
        QSaveFile file(path);
        const bool ok =
            file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
        if (!ok) {
            if (error)
                *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
            return false;
        }
        if (written)
            written->append(path);
    }
    return true;
}

} // namespace BlocksExchangeWriter
