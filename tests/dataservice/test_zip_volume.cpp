/* Zip volumes read back by unzip, 7z and minizip; interrupted appends and their recovery. */
#include "dataservice/FileHash.h"
#include "dataservice/ZipVolume.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unzip.h>

#include <csignal>
#include <ostream>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

/* Volumes run to megabytes: their size and first bytes say enough. */
void PrintTo(const QByteArray &bytes, std::ostream *out)
{
    *out << bytes.size() << " bytes " << bytes.left(24).toHex(' ').constData();
}

namespace {

const QDateTime PhotoTime(QDate(2024, 5, 6), QTime(7, 8, 10)); // local time
constexpr uLong PhotoDosTime = (44u << 25) | (5u << 21) | (6u << 16) | (7u << 11) | (8u << 5) | 5u;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        << path.toStdString();
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(PhotoTime, QFileDevice::FileModificationTime));
}

QByteArray randomBytes(qsizetype size, unsigned seed)
{
    std::mt19937 gen(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = char(gen());
    return out;
}

/* Exit code of a tool, -1 when it could not run. */
int runTool(const QString &program, const QStringList &args)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

int unzipTest(const QString &volume, const QByteArray &password)
{
    QStringList args{QStringLiteral("-t")};
    if (!password.isEmpty())
        args << QStringLiteral("-P") << QString::fromLatin1(password);
    return runTool(QStringLiteral("unzip"), args << volume);
}

struct EntryHeader {
    QString name;
    uLong flag, method, dosDate, extraSize;
    quint64 packed, size;
};

std::vector<EntryHeader> headers(const QString &volume)
{
    std::vector<EntryHeader> out;
    unzFile zip = unzOpen64(QFile::encodeName(volume).constData());
    for (int rc = zip ? unzGoToFirstFile(zip) : UNZ_ERRNO; rc == UNZ_OK;
         rc = unzGoToNextFile(zip)) {
        unz_file_info64 info;
        char name[256] = {};
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
        out.push_back({QString::fromUtf8(name), info.flag, info.compression_method, info.dosDate,
                       info.size_file_extra, info.compressed_size, info.uncompressed_size});
    }
    if (zip)
        unzClose(zip);
    return out;
}

QStringList folderEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

TEST(ZipVolume, StandardToolsReadWhatWasPacked)
{
    const std::pair<const char *, QByteArray> files[] = {
        {"IMG_0001.JPG", QByteArray(5000, 'x') + "tail"},
        {"empty.dat", QByteArray()},
        {"big random.bin", randomBytes(3 * 1024 * 1024 + 17, 7)},
        {"照片 02.jpg", randomBytes(70000, 8)},
    };
    for (const QByteArray &password : {QByteArray(), QByteArray("s3cret!")}) {
        SCOPED_TRACE(password.isEmpty() ? "no password" : "password");
        QTemporaryDir dir;
        const QString volume = dir.filePath(QStringLiteral("pack1.zip"));
        QStringList names;
        QDir().mkpath(dir.filePath(QStringLiteral("src")));
        for (const auto &[name, bytes] : files) {
            const QString path = dir.filePath(QStringLiteral("src/") + QString::fromUtf8(name));
            writeFile(path, bytes);
            QString error;
            ASSERT_TRUE(ZipVolume::addFile(volume, path, QString::fromUtf8(name), password, &error))
                << error.toStdString();
            names << QString::fromUtf8(name);
        }
        EXPECT_EQ(ZipVolume::entries(volume), names);
        EXPECT_EQ(folderEntries(dir.path()), QStringList({"pack1.zip", "src"}));

        const auto got = headers(volume);
        ASSERT_EQ(got.size(), std::size(files));
        for (size_t i = 0; i < got.size(); ++i) {
            const quint64 size = quint64(files[i].second.size());
            EXPECT_EQ(got[i].name, names[int(i)]);
            EXPECT_EQ(got[i].flag, password.isEmpty() ? 0x0800u : 0x0801u);
            EXPECT_EQ(got[i].method, 8u);
            EXPECT_EQ(got[i].dosDate, PhotoDosTime);
            EXPECT_EQ(got[i].extraSize, 0u);
            EXPECT_EQ(got[i].size, size);
            // Stored deflate blocks: a few bytes per block more than the file, never less.
            const quint64 header = password.isEmpty() ? 0 : 12;
            EXPECT_GE(got[i].packed, size + header + 1);
            EXPECT_LE(got[i].packed, size + header + 16 + size / 1000);
        }

        EXPECT_EQ(unzipTest(volume, password), 0);
        if (!password.isEmpty()) {
            EXPECT_NE(unzipTest(volume, "wrong"), 0);
        }
        const QString out = dir.filePath(QStringLiteral("out"));
        QStringList args{QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o") + out};
        if (!password.isEmpty())
            args << QStringLiteral("-p") + QString::fromLatin1(password);
        ASSERT_EQ(runTool(QStringLiteral("7z"), args << volume), 0);
        for (const auto &[name, bytes] : files)
            EXPECT_EQ(readAll(out + QLatin1Char('/') + QString::fromUtf8(name)), bytes) << name;

        /* The test at close: whole with the right password, the volume's XXH64 as xxhsum's. */
        quint64 hash = 0;
        QString error;
        EXPECT_TRUE(ZipVolume::test(volume, password, &hash, &error)) << error.toStdString();
        EXPECT_EQ(hash, FileHash::of(readAll(volume)));
        if (!password.isEmpty()) {
            EXPECT_FALSE(ZipVolume::test(volume, "wrong", &hash, &error));
        }
        /* One byte flipped inside the large entry's data. */
        QFile file(volume);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek(2 * 1024 * 1024));
        char byte = 0;
        ASSERT_TRUE(file.getChar(&byte) && file.seek(2 * 1024 * 1024) && file.putChar(~byte));
        file.close();
        EXPECT_FALSE(ZipVolume::test(volume, password, &hash, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("big random.bin"))) << error.toStdString();
    }
}

/*
 * An append killed at a chosen byte: the child process may not let any file grow past that
 * size, so the kernel stops it with SIGXFSZ in the middle of the write that crosses it.
 */
TEST(ZipVolume, RecoversFromAnAppendKilledMidway)
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.jpg")),
                  b = dir.filePath(QStringLiteral("b.jpg")),
                  c = dir.filePath(QStringLiteral("c.jpg"));
    writeFile(a, randomBytes(5000, 1));
    writeFile(b, randomBytes(7000, 2));
    writeFile(c, randomBytes(2 * 1024 * 1024, 3));

    const QString volume = dir.filePath(QStringLiteral("pack2.zip"));
    const QString whole = dir.filePath(QStringLiteral("whole.zip"));
    const QString fresh = dir.filePath(QStringLiteral("fresh.zip"));
    ASSERT_TRUE(ZipVolume::addFile(whole, a, QStringLiteral("a.jpg"), {}, nullptr));
    ASSERT_TRUE(ZipVolume::addFile(whole, b, QStringLiteral("b.jpg"), {}, nullptr));
    const QByteArray twoEntries = readAll(whole);
    ASSERT_TRUE(ZipVolume::addFile(whole, c, QStringLiteral("c.jpg"), {}, nullptr));
    ASSERT_TRUE(ZipVolume::addFile(fresh, c, QStringLiteral("c.jpg"), {}, nullptr));
    const QByteArray threeEntries = readAll(whole), oneEntry = readAll(fresh);
    const qint64 old = twoEntries.size();

    enum Mend { ByRecover, ByNextAdd };
    const struct {
        const char *what;
        bool newVolume;
        qint64 cut;
        Mend mend;
    } rows[] = {
        {"while saving the undo record", false, 20, ByRecover},
        {"over the old central directory", false, old, ByRecover},
        {"inside the new local header", false, old + 10, ByNextAdd},
        {"inside the data", false, old + 1024 * 1024 + 3, ByRecover},
        {"inside the new central directory", false, threeEntries.size() - 40, ByNextAdd},
        {"at the last byte", false, threeEntries.size() - 1, ByRecover},
        {"first entry, header", true, 40, ByRecover},
        {"first entry, data", true, 1024 * 1024, ByNextAdd},
        {"first entry, last byte", true, oneEntry.size() - 1, ByRecover},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QFile::remove(volume);
        if (!row.newVolume)
            writeFile(volume, twoEntries);

        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_DFL);
            const rlimit limit{rlim_t(row.cut), rlim_t(row.cut)};
            setrlimit(RLIMIT_FSIZE, &limit);
            _exit(ZipVolume::addFile(volume, c, QStringLiteral("c.jpg"), {}, nullptr) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
        if (row.cut >= old || row.newVolume) {
            EXPECT_NE(readAll(volume), row.newVolume ? QByteArray() : twoEntries);
        }

        QString error;
        if (row.mend == ByRecover) {
            ASSERT_TRUE(ZipVolume::recover(volume, &error)) << error.toStdString();
            EXPECT_EQ(QFile::exists(volume), !row.newVolume);
            if (!row.newVolume) {
                EXPECT_EQ(readAll(volume), twoEntries);
                EXPECT_EQ(unzipTest(volume, {}), 0);
            }
        }
        ASSERT_TRUE(ZipVolume::addFile(volume, c, QStringLiteral("c.jpg"), {}, &error))
            << error.toStdString();
        EXPECT_EQ(readAll(volume), row.newVolume ? oneEntry : threeEntries);
        EXPECT_EQ(folderEntries(dir.path()),
                  QStringList({"a.jpg", "b.jpg", "c.jpg", "fresh.zip", "pack2.zip", "whole.zip"}));
    }
}

TEST(ZipVolume, BadInputLeavesTheVolumeAsItWas)
{
    QTemporaryDir dir;
    const QString photo = dir.filePath(QStringLiteral("photo.jpg"));
    writeFile(photo, randomBytes(4000, 4));
    const QString volume = dir.filePath(QStringLiteral("pack1.zip"));
    ASSERT_TRUE(ZipVolume::addFile(volume, photo, QStringLiteral("photo.jpg"), {}, nullptr));
    const QString junk = dir.filePath(QStringLiteral("junk.zip"));
    writeFile(junk, randomBytes(3000, 5));
    const QStringList before = folderEntries(dir.path());

    const struct {
        const char *what;
        QString volume, file, name;
        QByteArray password;
    } rows[] = {
        {"missing file", volume, dir.filePath(QStringLiteral("nope.jpg")), "nope.jpg", {}},
        {"folder as file", volume, dir.path(), "dir", {}},
        {"file longer than it claims", volume, "/proc/self/status", "status", {}},
        {"same with a password", volume, "/proc/self/status", "status", "s3cret!"},
        {"control character in password", volume, photo, "p.jpg", "bad\tpw"},
        {"empty entry name", volume, photo, "", {}},
        {"not a zip volume", junk, photo, "photo.jpg", {}},
        {"missing folder", dir.filePath(QStringLiteral("gone/pack1.zip")), photo, "p.jpg", {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        const QByteArray bytes = readAll(row.volume);
        QString error;
        EXPECT_FALSE(ZipVolume::addFile(row.volume, row.file, row.name, row.password, &error));
        EXPECT_TRUE(error.contains(row.volume) && !error.contains(QLatin1Char('\n')))
            << error.toStdString();
        EXPECT_EQ(readAll(row.volume), bytes);
        EXPECT_EQ(folderEntries(dir.path()), before);
    }
    EXPECT_EQ(ZipVolume::entries(volume), QStringList({"photo.jpg"}));

    QString error;
    EXPECT_TRUE(ZipVolume::recover(volume, &error));
    EXPECT_TRUE(ZipVolume::recover(dir.filePath(QStringLiteral("pack9.zip")), &error));
    EXPECT_FALSE(ZipVolume::recover(junk, &error));
    EXPECT_TRUE(error.contains(junk)) << error.toStdString();
    error.clear();
    EXPECT_TRUE(ZipVolume::entries(junk, &error).isEmpty());
    EXPECT_TRUE(error.contains(junk)) << error.toStdString();
}

TEST(ZipVolume, PasswordUsable)
{
    const struct {
        QByteArray password;
        bool usable;
    } rows[] = {
        {"s3cret!", true},
        {" ~", true},
        {QByteArray(255, 'a'), true},
        {"", false},
        {QByteArray(256, 'a'), false},
        {"tab\there", false},
        {"caf\xc3\xa9", false},
        {QByteArray("a\0b", 3), false},
        {"del\x7f", false},
    };
    for (const auto &row : rows) {
        QString why;
        EXPECT_EQ(ZipVolume::passwordUsable(row.password, &why), row.usable)
            << row.password.constData();
        EXPECT_EQ(why.isEmpty(), row.usable) << row.password.constData();
    }
}

} // namespace
