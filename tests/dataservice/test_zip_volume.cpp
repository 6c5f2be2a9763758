/* Zip volumes read back by unzip and 7z; interrupted appends and their recovery. */
#include "dataservice/FileHash.h"
#include "dataservice/ZipVolume.h"

#include "TestFiles.h"

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

/* Volumes run to megabytes: their size and first bytes say enough. */
void PrintTo(const QByteArray &bytes, std::ostream *out)
{
    *out << bytes.size() << " bytes " << bytes.left(24).toHex(' ').constData();
}

namespace {

const QDateTime PhotoTime(QDate(2024, 5, 6), QTime(7, 8, 10)); // local time, even seconds

/* A file dated PhotoTime, as the entry's time comes from it. */
void writePhoto(const QString &path, const QByteArray &bytes)
{
    ASSERT_TRUE(writeFile(path, bytes)) << path.toStdString();
    QFile file(path);
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

/* Exit code of a tool (negative when it could not run), in a UTF-8 locale for the names. */
int runTool(const QString &program, const QStringList &args)
{
    qputenv("LC_ALL", "C.UTF-8");
    return QProcess::execute(program, args);
}

int unzipTest(const QString &volume, const QByteArray &password = {})
{
    QStringList args{"-qq", "-t"};
    if (!password.isEmpty())
        args << "-P" << QString::fromLatin1(password);
    return runTool("unzip", args << volume);
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
        const QString volume = dir.filePath("pack1.zip");
        QStringList names;
        for (const auto &[name, bytes] : files) {
            names << QString::fromUtf8(name);
            const QString path = dir.filePath("src/" + names.last());
            writePhoto(path, bytes);
            QString error;
            ASSERT_TRUE(ZipVolume::addFile(volume, path, names.last(), password, &error))
                << error.toStdString();
        }
        EXPECT_EQ(ZipVolume::entries(volume), names);
        EXPECT_EQ(folderEntries(dir.path()), QStringList({"pack1.zip", "src"}));

        EXPECT_EQ(unzipTest(volume, password), 0);
        const QString out = dir.filePath("out");
        QStringList args{"x", "-y", "-bso0", "-bsp0", "-o" + out};
        if (!password.isEmpty())
            args << "-p" + QString::fromLatin1(password);
        ASSERT_EQ(runTool("7z", args << volume), 0);
        for (const auto &[name, bytes] : files) { /* UTF-8 names, the photos' times */
            const QString path = out + QLatin1Char('/') + QString::fromUtf8(name);
            EXPECT_EQ(readAll(path), bytes) << name;
            EXPECT_EQ(QFileInfo(path).lastModified(), PhotoTime) << name;
        }

        /* The test at close: whole with the right password, the volume's XXH64 as xxhsum's. */
        quint64 hash = 0;
        QString error;
        EXPECT_TRUE(ZipVolume::test(volume, password, &hash, &error)) << error.toStdString();
        EXPECT_EQ(hash, FileHash::of(readAll(volume)));
        if (!password.isEmpty()) {
            EXPECT_NE(unzipTest(volume, "wrong"), 0);
            EXPECT_FALSE(ZipVolume::test(volume, "wrong", &hash, &error));
        }
        /* One byte flipped inside the large entry's data. */
        ASSERT_TRUE(flipByte(volume, 2 * 1024 * 1024));
        EXPECT_FALSE(ZipVolume::test(volume, password, &hash, &error));
        EXPECT_TRUE(error.contains("big random.bin")) << error.toStdString();
    }
}

/*
 * An append killed at a chosen byte: the child process may not let any file grow past that
 * size, so the kernel stops it with SIGXFSZ in the middle of the write that crosses it. Then
 * appends refused: they leave every file as it was.
 */
TEST(ZipVolume, RecoversFromAnAppendKilledMidwayAndRefusesBadInput)
{
    QTemporaryDir dir;
    const QString c = dir.filePath("c.jpg");
    const QString volume = dir.filePath("pack2.zip");
    const QString whole = dir.filePath("whole.zip");
    const QString fresh = dir.filePath("fresh.zip");
    const auto add = [&](const QString &to, const char *name) {
        return ZipVolume::addFile(to, dir.filePath(name), name, {}, nullptr);
    };
    writePhoto(dir.filePath("a.jpg"), randomBytes(5000, 1));
    writePhoto(dir.filePath("b.jpg"), randomBytes(7000, 2));
    writePhoto(c, randomBytes(2 * 1024 * 1024, 3));
    ASSERT_TRUE(add(whole, "a.jpg") && add(whole, "b.jpg"));
    const QByteArray twoEntries = readAll(whole);
    ASSERT_TRUE(add(whole, "c.jpg") && add(fresh, "c.jpg"));
    const QByteArray threeEntries = readAll(whole), oneEntry = readAll(fresh);
    const qint64 old = twoEntries.size();

    /* Adds c.jpg to the volume in a child that the file size limit `cut` kills midway. */
    const auto killedAppend = [&](qint64 cut) {
        const pid_t child = fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_DFL);
            const rlimit limit{rlim_t(cut), rlim_t(cut)};
            setrlimit(RLIMIT_FSIZE, &limit);
            _exit(ZipVolume::addFile(volume, c, "c.jpg", {}, nullptr) ? 0 : 1);
        }
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && WIFSIGNALED(status) &&
               WTERMSIG(status) == SIGXFSZ;
    };
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
            writePhoto(volume, twoEntries);
        ASSERT_TRUE(killedAppend(row.cut));
        if (row.cut >= old || row.newVolume) {
            EXPECT_NE(readAll(volume), row.newVolume ? QByteArray() : twoEntries);
        }

        QString error;
        if (row.mend == ByRecover) {
            ASSERT_TRUE(ZipVolume::recover(volume, &error)) << error.toStdString();
            EXPECT_EQ(QFile::exists(volume), !row.newVolume);
            if (!row.newVolume) {
                EXPECT_EQ(readAll(volume), twoEntries);
                EXPECT_EQ(unzipTest(volume), 0);
            }
        }
        ASSERT_TRUE(ZipVolume::addFile(volume, c, "c.jpg", {}, &error)) << error.toStdString();
        EXPECT_EQ(readAll(volume), row.newVolume ? oneEntry : threeEntries);
        EXPECT_EQ(folderEntries(dir.path()),
                  QStringList({"a.jpg", "b.jpg", "c.jpg", "fresh.zip", "pack2.zip", "whole.zip"}));
    }

    /* An undo record that fails its check mends nothing (here it would say the volume was new). */
    writePhoto(volume, twoEntries);
    ASSERT_TRUE(killedAppend(old + 1024 * 1024));
    const QByteArray killed = readAll(volume);
    ASSERT_TRUE(flipByte(dir.filePath(".pack2.zip.undo"), 8));
    QString error;
    EXPECT_FALSE(ZipVolume::recover(volume, &error));
    EXPECT_TRUE(error.contains("damaged")) << error.toStdString();
    EXPECT_EQ(readAll(volume), killed);
    QFile::remove(dir.filePath(".pack2.zip.undo"));
    QFile::remove(volume);

    /* Refusals leave every file as it was. */
    const QString junk = dir.filePath("junk.zip");
    writePhoto(junk, randomBytes(3000, 5));
    // An end record claiming a central directory longer than what lies before it.
    const QString overclaim = dir.filePath("overclaim.zip");
    QByteArray claims = twoEntries;
    const qsizetype end = claims.lastIndexOf(QByteArray("PK\x05\x06", 4));
    ASSERT_GT(end, 0);
    claims[end + 13] = char(claims[end + 13] + 1); // the directory's size grows by 256 bytes
    writePhoto(overclaim, claims);
    const QStringList before = folderEntries(dir.path());
    const struct {
        const char *what;
        QString volume, file, name;
        QByteArray password;
        const char *says = "";
    } refusals[] = {
        {"missing file", whole, dir.filePath("nope.jpg"), "nope.jpg", {}},
        {"folder as file", whole, dir.path(), "dir", {}},
        {"file longer than it claims", whole, "/proc/self/status", "status", {}},
        {"same with a password", whole, "/proc/self/status", "status", "s3cret!"},
        {"control character in password", whole, c, "p.jpg", "bad\tpw"},
        {"empty entry name", whole, c, "", {}},
        {"not a zip volume", junk, c, "c.jpg", {}, "not a whole zip volume"},
        {"directory overclaimed", overclaim, c, "c.jpg", {}, "not a whole zip volume"},
        {"missing folder", dir.filePath("gone/pack1.zip"), c, "p.jpg", {}},
    };
    for (const auto &row : refusals) {
        SCOPED_TRACE(row.what);
        const QByteArray bytes = readAll(row.volume);
        QString error;
        EXPECT_FALSE(ZipVolume::addFile(row.volume, row.file, row.name, row.password, &error));
        EXPECT_TRUE(error.contains(row.volume) && error.contains(QLatin1String(row.says)) &&
                    !error.contains(QLatin1Char('\n')))
            << error.toStdString();
        EXPECT_EQ(readAll(row.volume), bytes);
        EXPECT_EQ(folderEntries(dir.path()), before);
    }
    EXPECT_EQ(ZipVolume::entries(whole), QStringList({"a.jpg", "b.jpg", "c.jpg"}));

    EXPECT_TRUE(ZipVolume::recover(whole, &error));
    EXPECT_TRUE(ZipVolume::recover(dir.filePath("pack9.zip"), &error));
    EXPECT_FALSE(ZipVolume::recover(junk, &error));
    EXPECT_TRUE(error.contains(junk)) << error.toStdString();
    error.clear();
    EXPECT_TRUE(ZipVolume::entries(junk, &error).isEmpty());
    EXPECT_TRUE(error.contains(junk)) << error.toStdString();
}

/* Passwords are printable ASCII of 1 to 255 characters. */
TEST(ZipVolume, PasswordUsable)
{
    const std::pair<QByteArray, bool> passwords[] = {{"s3cret!", true},
                                                     {" ~", true},
                                                     {QByteArray(255, 'a'), true},
                                                     {"", false},
                                                     {"tab\there", false},
                                                     {QByteArray(256, 'a'), false},
                                                     {"caf\xc3\xa9", false},
                                                     {"del\x7f", false},
                                                     {QByteArray("a\0b", 3), false}};
    for (const auto &[password, usable] : passwords) {
        QString why;
        EXPECT_EQ(ZipVolume::passwordUsable(password, &why), usable) << password.constData();
        EXPECT_EQ(why.isEmpty(), usable) << password.constData();
    }
}

} // namespace
