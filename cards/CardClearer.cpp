#include "CardClearer.h"

#include "CardFormatter.h"
#include "CardGuard.h"
#include "dataservice/BlocksExchangeWriter.h"
#include "dataservice/LensTable.h"
#include "dataservice/TaskConfig.h"
#include "platform/AppPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>

#include <array>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

const QString replacementName = QStringLiteral("K4相机替换文件");

/* Lenses in the order their cards are cleared. */
constexpr int clearOrder[LensTable::count] = {0, 1, 2, 4, 3}; /* Center Left Right Back Front */

/* The files below the card's DCIM folder (any case), by file name. */
QStringList photosOf(const QString &mountPath)
{
    QStringList names;
    const QDir root(mountPath);
    for (const QString &folder : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (folder.compare(QLatin1String("DCIM"), Qt::CaseInsensitive) != 0)
            continue;
        QDirIterator it(root.filePath(folder), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            names << QFileInfo(it.next()).fileName();
    }
    return names;
}

/*
 * Per lens, the file names of the photos the last transfer wrote, from the
 * photo information files; nothing when Taskconfig.xml names no completed
 * transfer.
 */
std::optional<std::array<QSet<QString>, LensTable::count>> transferred(const QString &dataDir)
{
    QString error;
    const std::optional<TaskConfig> config = TaskConfig::read(TaskConfig::path(dataDir), &error);
    if (!config || !config->success)
        return std::nullopt;
    std::array<QSet<QString>, LensTable::count> held;
    for (const Lens &lens : LensTable::lenses())
        for (const PhotoLine &line : BlocksExchangeWriter::readPhotoLines(
                 dataDir + QLatin1Char('/') + lens.key + QStringLiteral(".txt")))
            held[static_cast<size_t>(lens.disk)].insert(QFileInfo(line.path).fileName());
    return held;
}

QString cardName(const ClearCard &card)
{
    return QStringLiteral("lens %1: %2 (%3)")
        .arg(LensTable::lens(card.disk).key, card.volume.mountPath, card.volume.device);
}

bool readWhole(const QString &path, QByteArray *bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    *bytes = file.readAll();
    if (file.error() != QFile::NoError) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

/* A whole file under its final name: written to a temporary name, flushed, renamed. */
bool writeWhole(const QString &path, const QByteArray &bytes, QString *error)
{
    if (!QDir().mkpath(QFileInfo(path).path())) {
        *error = QStringLiteral("cannot make the folder %1").arg(QFileInfo(path).path());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

/* Flush what was written to the card before it is called cleared. */
void syncVolume(const QString &mountPath)
{
    const int fd = ::open(QFile::encodeName(mountPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

/*
 * Clear one card the guard let through: keep its card files in memory and in
 * the data folder, format it, write them back, add from the replacement
 * folder what it lacked, and read all five back.
 */
ClearOutcome clearOne(const ClearCard &card, const QString &replacement,
                      const QString &replacementWhy, const QString &dataDir,
                      const CardClearer::Progress &progress)
{
    ClearOutcome outcome;
    outcome.disk = card.disk;
    const Lens &lens = LensTable::lens(card.disk);
    const QString name = cardName(card);
    const QString kept = dataDir + QStringLiteral("/cardfiles/") + lens.key;
    bool formatted = false;
    auto failed = [&](const QString &why) {
        outcome.reason = name + QStringLiteral(": ") + why;
        if (formatted)
            outcome.reason += QStringLiteral("; its own card files are kept in %1").arg(kept);
        return outcome;
    };
    auto step = [&](const QString &text) {
        if (progress)
            progress(card.disk, text);
    };

    step(QStringLiteral("reading its card files"));
    QHash<QString, QByteArray> own;
    for (const QString &file : CardClearer::cardFiles()) {
        const QString path = card.volume.mountPath + QLatin1Char('/') + file;
        QString error;
        if (!QFileInfo(path).isFile()) {
            if (replacement.isEmpty())
                return failed(
                    QStringLiteral("not formatted: it lacks %1 and %2").arg(file, replacementWhy));
            if (!QFileInfo(replacement + QLatin1Char('/') + file).isFile())
                return failed(QStringLiteral("not formatted: it lacks %1 and the replacement "
                                             "folder %2 has none")
                                  .arg(file, replacement));
            continue;
        }
        if (!readWhole(path, &own[file], &error))
            return failed(QStringLiteral("not formatted: ") + error);
    }
    step(QStringLiteral("keeping its card files in %1").arg(kept));
    for (auto it = own.cbegin(); it != own.cend(); ++it) {
        QString error;
        if (!writeWhole(kept + QLatin1Char('/') + it.key(), it.value(), &error))
            return failed(QStringLiteral("not formatted: its card files cannot be kept: ") + error);
    }

    step(QStringLiteral("formatting %1 as exFAT '%2'").arg(card.volume.device, lens.word));
    QString mountPath;
    QString error;
    if (!CardFormatter::format(card.volume, lens.word, &mountPath, &error)) {
        if (!QFileInfo::exists(card.volume.device))
            error = QStringLiteral("the card was removed during the format (%1)").arg(error);
        return failed(error);
    }
    formatted = true;
    outcome.mountPath = mountPath;

    step(QStringLiteral("restoring its card files"));
    for (auto it = own.cbegin(); it != own.cend(); ++it)
        if (!writeWhole(mountPath + QLatin1Char('/') + it.key(), it.value(), &error))
            return failed(error);
    /* Whatever else the replacement folder holds, without replacing what is there. */
    QHash<QString, QByteArray> expected = own;
    if (!replacement.isEmpty()) {
        const QDir from(replacement);
        QDirIterator it(replacement, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString source = it.next();
            const QString relative = from.relativeFilePath(source);
            const QString target = mountPath + QLatin1Char('/') + relative;
            if (QFileInfo::exists(target))
                continue;
            QByteArray bytes;
            if (!readWhole(source, &bytes, &error) || !writeWhole(target, bytes, &error))
                return failed(error);
            if (!expected.contains(relative))
                expected.insert(relative, bytes);
        }
    }
    syncVolume(mountPath);

    step(QStringLiteral("checking its card files"));
    for (const QString &file : CardClearer::cardFiles()) {
        QByteArray bytes;
        if (!readWhole(mountPath + QLatin1Char('/') + file, &bytes, &error))
            return failed(error);
        if (bytes != expected.value(file))
            return failed(QStringLiteral("%1 on the card differs from what was written").arg(file));
    }
    step(QStringLiteral("cleared"));
    outcome.ok = true;
    return outcome;
}

} // namespace

namespace CardClearer {

const QStringList &cardFiles()
{
    static const QStringList files = {
        QStringLiteral("PRIVATE/SONY/SONYCARD.IND"), QStringLiteral("AVF_INFO/AVIN0001.BNP"),
        QStringLiteral("AVF_INFO/AVIN0001.INP"),     QStringLiteral("AVF_INFO/AVIN0001.INT"),
        QStringLiteral("AVF_INFO/PRV00001.BIN"),
    };
    return files;
}

QString lastSaveFolder(const QString &dataDir)
{
    QString ignored;
    const std::optional<TaskConfig> config = TaskConfig::read(TaskConfig::path(dataDir), &ignored);
    return config ? config->saveDir : QString();
}

QList<ClearCard> survey(const QList<int> &disks, const QString &saveFolder, const QString &dataDir)
{
    const auto held = transferred(dataDir);
    /* loadRecords adds the last transfer's save folder itself and reads each folder once. */
    const RecordedCopies records = CardSafety::loadRecords(
        dataDir, saveFolder.isEmpty() ? QStringList() : QStringList{saveFolder});
    QList<ClearCard> cards;
    for (const Volume &volume : VolumeQuery::mountedVolumes()) {
        const int disk = LensTable::diskForLabel(volume.label);
        if (disk < 0 || (!disks.isEmpty() && !disks.contains(disk)))
            continue;
        ClearCard card;
        card.disk = disk;
        card.volume = volume;
        const QStringList photos = photosOf(volume.mountPath);
        card.photos = static_cast<int>(photos.size());
        if (held) {
            card.notTransferred = 0;
            for (const QString &photo : photos)
                card.notTransferred += !(*held)[disk].contains(photo);
        }
        card.refusal = CardGuard::check(volume, disk, saveFolder, dataDir);
        card.safety = CardSafety::check(volume, disk, records);
        cards << card;
    }
    for (ClearCard &card : cards)
        for (const ClearCard &other : std::as_const(cards)) {
            if (other.disk != card.disk || other.volume == card.volume)
                continue;
            const QString twice = QStringLiteral("%1 (%2) carries lens %3's label too")
                                      .arg(other.volume.mountPath, other.volume.device,
                                           LensTable::lens(card.disk).key);
            card.refusal = card.refusal.isEmpty()
                               ? cardName(card) + QStringLiteral(" is not cleared: ") + twice
                               : card.refusal + QStringLiteral("; ") + twice;
        }
    std::stable_sort(cards.begin(), cards.end(),
                     [](const ClearCard &a, const ClearCard &b) { return a.disk < b.disk; });
    return cards;
}

QString replacementFolder(const QString &dataDir, QString *why)
{
    const QString own = dataDir + QLatin1Char('/') + replacementName;
    if (QFileInfo(own).isDir())
        return own;
    QStringList lookedIn{dataDir};
    QStringList shippedIn;
    const QString shipped = AppPaths::findShared(replacementName, &shippedIn);
    if (!shipped.isEmpty() && QFileInfo(shipped).isDir())
        return shipped;
    if (why)
        *why = QStringLiteral("no replacement card-file folder %1; looked in %2")
                   .arg(replacementName, (lookedIn + shippedIn).join(QStringLiteral(", ")));
    return {};
}

QList<ClearOutcome> clear(const QList<ClearCard> &cards, const QString &saveFolder,
                          const QString &dataDir, const Progress &progress)
{
    QString replacementWhy;
    const QString replacement = replacementFolder(dataDir, &replacementWhy);
    QList<ClearOutcome> outcomes;
    for (int disk : clearOrder)
        for (const ClearCard &card : cards) {
            if (card.disk != disk)
                continue;
            if (progress)
                progress(disk, QStringLiteral("checking the card"));
            /* Asked again right before the format: the card may have changed since the survey. */
            QString refusal = card.refusal;
            if (refusal.isEmpty())
                refusal = CardGuard::check(card.volume, disk, saveFolder, dataDir);
            if (!refusal.isEmpty()) {
                ClearOutcome refused;
                refused.disk = disk;
                refused.reason = refusal;
                outcomes << refused;
                continue;
            }
            outcomes << clearOne(card, replacement, replacementWhy, dataDir, progress);
        }
    return outcomes;
}

} // namespace CardClearer
