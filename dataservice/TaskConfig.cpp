#include "TaskConfig.h"

#include "LensTable.h"
#include "platform/WholeFile.h"

#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamWriter>

#include <cmath>
#include <sys/stat.h>

namespace {

/* Lens elements in file order, by disk number: center, front, right, left, back. */
constexpr int fileOrder[LensTable::count] = {0, 3, 2, 1, 4};

QString flagText(bool flag)
{
    return flag ? QStringLiteral("true") : QStringLiteral("false");
}

QString positionText(double v)
{
    return QString::number(v, 'g', 6);
}

/* Characters XML 1.0 cannot carry, not even escaped: a file holding one would not read back. */
bool xmlSafe(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
            return false;
        if (c == 0xFFFE || c == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= text.size() || !QChar::isLowSurrogate(text.at(i + 1).unicode()))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

/* What write() cannot put into a file that read() accepts again; empty when nothing. */
QString unwritable(const TaskConfig &config)
{
    for (int disk = 0; disk < LensTable::count; ++disk) {
        const TaskConfig::Pan &pan = config.pans[size_t(disk)];
        const QString &key = LensTable::lens(disk).key;
        if (pan.planCount < 0 || pan.hasCount < 0)
            return QStringLiteral("negative count for lens %1").arg(key);
        if (!xmlSafe(pan.path) || !xmlSafe(pan.zipPath) || !xmlSafe(pan.zipName))
            return QStringLiteral("a path of lens %1 holds a character XML cannot carry").arg(key);
    }
    for (const TaskConfig::PosTable &table : config.pose) {
        if (table.times.size() != table.positions.size())
            return QStringLiteral("POS table %1 has %2 times but %3 positions")
                .arg(table.path, QString::number(table.times.size()),
                     QString::number(table.positions.size()));
        for (const GeoPosition &p : table.positions) {
            if (!std::isfinite(p.lon) || !std::isfinite(p.lat) || !std::isfinite(p.alt))
                return QStringLiteral("POS table %1 holds a position that is not a number")
                    .arg(table.path);
        }
        if (!xmlSafe(table.path))
            return QStringLiteral("a POS table path holds a character XML cannot carry");
    }
    if (!xmlSafe(config.saveDir) || !xmlSafe(config.splitValue) || !xmlSafe(config.password))
        return QStringLiteral("the save folder, volume size or password holds a character XML "
                              "cannot carry");
    return {};
}

QByteArray serialize(const TaskConfig &config)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("config"));

    xml.writeStartElement(QStringLiteral("pans"));
    for (int disk : fileOrder) {
        const TaskConfig::Pan &pan = config.pans[size_t(disk)];
        xml.writeEmptyElement(LensTable::lens(disk).key);
        xml.writeAttribute(QStringLiteral("path"), pan.path);
        xml.writeAttribute(QStringLiteral("plancount"), QString::number(pan.planCount));
        xml.writeAttribute(QStringLiteral("hascount"), QString::number(pan.hasCount));
        if (pan.hasTask) {
            xml.writeAttribute(QStringLiteral("zippath"), pan.zipPath);
            xml.writeAttribute(QStringLiteral("zipname"), pan.zipName);
        }
    }
    xml.writeEndElement();

    xml.writeEmptyElement(QStringLiteral("savapath"));
    xml.writeAttribute(QStringLiteral("path"), config.saveDir);

    xml.writeStartElement(QStringLiteral("pose"));
    for (const TaskConfig::PosTable &table : config.pose) {
        xml.writeStartElement(QStringLiteral("file"));
        xml.writeAttribute(QStringLiteral("path"), table.path);
        xml.writeStartElement(QStringLiteral("timelist"));
        for (quint32 time : table.times) {
            xml.writeEmptyElement(QStringLiteral("time"));
            xml.writeAttribute(QStringLiteral("value"), QString::number(time));
        }
        xml.writeEndElement();
        xml.writeStartElement(QStringLiteral("gpslist"));
        for (const GeoPosition &p : table.positions) {
            xml.writeEmptyElement(QStringLiteral("pos"));
            xml.writeAttribute(QStringLiteral("x"), positionText(p.lon));
            xml.writeAttribute(QStringLiteral("y"), positionText(p.lat));
            xml.writeAttribute(QStringLiteral("z"), positionText(p.alt));
        }
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeEmptyElement(QStringLiteral("qufenjiaci"));
    xml.writeAttribute(QStringLiteral("flag"), flagText(config.sorties));
    xml.writeEmptyElement(QStringLiteral("fenquan"));
    xml.writeAttribute(QStringLiteral("flag"), flagText(config.split));
    xml.writeAttribute(QStringLiteral("value"), config.split ? config.splitValue : QString());
    xml.writeEmptyElement(QStringLiteral("password"));
    xml.writeAttribute(QStringLiteral("flag"), flagText(config.usePassword));
    xml.writeAttribute(QStringLiteral("value"), config.usePassword ? config.password : QString());
    xml.writeEmptyElement(QStringLiteral("tasksuccess"));
    xml.writeAttribute(QStringLiteral("flag"), flagText(config.success));

    xml.writeEndDocument();
    return bytes;
}

/* A count attribute: absent reads 0; present, it must be a non-negative decimal integer. */
bool readCount(const QDomElement &e, const QString &name, int *value)
{
    *value = 0;
    if (!e.hasAttribute(name))
        return true;
    const QString text = e.attribute(name);
    bool ok = !text.isEmpty();
    for (QChar c : text)
        ok = ok && c >= u'0' && c <= u'9';
    *value = ok ? text.toInt(&ok) : 0;
    return ok;
}

bool readTime(const QDomElement &e, quint32 *value)
{
    bool ok = true;
    const QString text = e.attribute(QStringLiteral("value"), QStringLiteral("0"));
    *value = text.toUInt(&ok);
    return ok;
}

bool readCoordinate(const QDomElement &e, const QString &name, double *value)
{
    bool ok = true;
    *value = e.attribute(name, QStringLiteral("0")).toDouble(&ok);
    return ok && std::isfinite(*value);
}

QString oneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.trimmed();
}

} // namespace

QString TaskConfig::path(const QString &dataDir)
{
    return dataDir + QStringLiteral("/Taskconfig.xml");
}

bool TaskConfig::write(const QString &file, QString *error) const
{
    QString why = unwritable(*this);
    if (why.isEmpty() && WholeFile::replace(file, serialize(*this), S_IRUSR | S_IWUSR, &why))
        return true;
    if (error)
        *error = QStringLiteral("cannot write %1: %2").arg(file, why);
    return false;
}

/*
 * The completion state is the `tasksuccess` element, looked up by name: a file
 * without one is not a file this program wrote (or it was cut short) and is
 * refused, so it never offers a resume. Its flag follows the resume rule: a
 * missing flag or "false" means the transfer did not finish; any other value
 * means there is nothing to resume.
 */
std::optional<TaskConfig> TaskConfig::read(const QString &file, QString *error)
{
    auto fail = [&](const QString &why) -> std::optional<TaskConfig> {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(file, oneLine(why));
        return std::nullopt;
    };

    QFile in(file);
    if (!in.exists())
        return fail(QStringLiteral("no such file"));
    if (!in.open(QIODevice::ReadOnly))
        return fail(in.errorString());
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (!doc.setContent(&in, &message, &line, &column))
        return fail(QStringLiteral("not well-formed XML (line %1, column %2: %3)")
                        .arg(line)
                        .arg(column)
                        .arg(message));

    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("config"))
        return fail(QStringLiteral("root element is <%1>, not <config>").arg(root.tagName()));
    const QDomElement pans = root.firstChildElement(QStringLiteral("pans"));
    const QDomElement save = root.firstChildElement(QStringLiteral("savapath"));
    const QDomElement done = root.firstChildElement(QStringLiteral("tasksuccess"));
    if (pans.isNull() || save.isNull() || done.isNull())
        return fail(QStringLiteral("no <%1> element")
                        .arg(pans.isNull()   ? QStringLiteral("pans")
                             : save.isNull() ? QStringLiteral("savapath")
                                             : QStringLiteral("tasksuccess")));

    TaskConfig config;
    for (int disk = 0; disk < LensTable::count; ++disk) {
        const QString &key = LensTable::lens(disk).key;
        const QDomElement e = pans.firstChildElement(key);
        Pan &pan = config.pans[size_t(disk)];
        pan.path = e.attribute(QStringLiteral("path"));
        if (!readCount(e, QStringLiteral("plancount"), &pan.planCount) ||
            !readCount(e, QStringLiteral("hascount"), &pan.hasCount))
            return fail(QStringLiteral("lens <%1> has a count that is not a non-negative integer")
                            .arg(key));
        pan.hasTask =
            e.hasAttribute(QStringLiteral("zippath")) || e.hasAttribute(QStringLiteral("zipname"));
        pan.zipPath = e.attribute(QStringLiteral("zippath"));
        pan.zipName = e.attribute(QStringLiteral("zipname"));
    }
    config.saveDir = save.attribute(QStringLiteral("path"));

    const QDomElement pose = root.firstChildElement(QStringLiteral("pose"));
    for (QDomElement f = pose.firstChildElement(QStringLiteral("file")); !f.isNull();
         f = f.nextSiblingElement(QStringLiteral("file"))) {
        PosTable table;
        table.path = f.attribute(QStringLiteral("path"));
        const QDomElement times = f.firstChildElement(QStringLiteral("timelist"));
        for (QDomElement t = times.firstChildElement(QStringLiteral("time")); !t.isNull();
             t = t.nextSiblingElement(QStringLiteral("time"))) {
            quint32 value = 0;
            if (!readTime(t, &value))
                return fail(QStringLiteral("POS table %1: time \"%2\" is not a number")
                                .arg(table.path, t.attribute(QStringLiteral("value"))));
            table.times.append(value);
        }
        const QDomElement positions = f.firstChildElement(QStringLiteral("gpslist"));
        for (QDomElement p = positions.firstChildElement(QStringLiteral("pos")); !p.isNull();
             p = p.nextSiblingElement(QStringLiteral("pos"))) {
            GeoPosition g{};
            if (!readCoordinate(p, QStringLiteral("x"), &g.lon) ||
                !readCoordinate(p, QStringLiteral("y"), &g.lat) ||
                !readCoordinate(p, QStringLiteral("z"), &g.alt))
                return fail(QStringLiteral("POS table %1: position %2 is not a number")
                                .arg(table.path, QString::number(table.positions.size() + 1)));
            table.positions.append(g);
        }
        if (table.times.size() != table.positions.size())
            return fail(QStringLiteral("POS table %1 has %2 times but %3 positions")
                            .arg(table.path, QString::number(table.times.size()),
                                 QString::number(table.positions.size())));
        config.pose.append(table);
    }

    const auto flag = [&](const QString &name) {
        return root.firstChildElement(name).attribute(QStringLiteral("flag")) ==
               QLatin1String("true");
    };
    config.sorties = flag(QStringLiteral("qufenjiaci"));
    config.split = flag(QStringLiteral("fenquan"));
    config.splitValue =
        root.firstChildElement(QStringLiteral("fenquan")).attribute(QStringLiteral("value"));
    config.usePassword = flag(QStringLiteral("password"));
    config.password =
        root.firstChildElement(QStringLiteral("password")).attribute(QStringLiteral("value"));
    config.success =
        done.attribute(QStringLiteral("flag"), QStringLiteral("false")) != QLatin1String("false");
    return config;
}
