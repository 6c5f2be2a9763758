/*
 * orvex-cli verify SAVE_DIR on a save folder whose record was written by the
 * record writer: every copy and volume re-read and matched, from a read-only
 * view of the folder where one can be had; a changed byte and a removed copy
 * fail, each named.
 */
#include "CliRun.h"
#include "TestFiles.h"
#include "dataservice/FileHash.h"
#include "dataservice/OffloadRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

CliRun verify(const QString &saveDir)
{
    return runCli({.args = {"verify", saveDir, "--json"}, .timeoutMs = 60000});
}

/* "lens:kind:problem" -> count, from the JSON report. */
QMap<QString, int> counts(const QJsonObject &report)
{
    QMap<QString, int> counts;
    for (const QJsonValue &lens : report["lenses"].toArray())
        for (const QString kind : {"files", "volumes"})
            for (const QString problem : {"matched", "mismatched", "missing", "unreadable"})
                if (const int n = lens[kind][problem].toInt())
                    counts[lens["lens"].toString() + ':' + kind + ':' + problem] = n;
    return counts;
}

/*
 * `dir` seen read-only: as root a read-only bind mount at `view`, in a mount
 * namespace of this test's own; otherwise `dir` itself, its write permission
 * taken away. Empty with `why` when neither works.
 */
QString readOnly(const QString &dir, const QString &view, std::string *why)
{
    QString seen = dir;
    if (geteuid() == 0) {
        const QByteArray from = QFile::encodeName(dir), to = QFile::encodeName(view);
        seen = view;
        if (!QDir().mkpath(view) || unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(from.constData(), to.constData(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, to.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            *why = std::string("no read-only bind mount: ") + std::strerror(errno);
    } else {
        for (const QString &sub : {dir + "/Center", dir + "/Left", dir})
            QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner);
    }
    if (QFile probe(seen + "/probe"); why->empty() && probe.open(QIODevice::WriteOnly))
        *why = "the folder is still writable";
    return why->empty() ? seen : QString();
}

/* A save folder of two lenses with a copy of three photos and a zip volume, and its record. */
void makeSaveFolder(const QString &save)
{
    struct Copy {
        int disk;
        QString path;
        QByteArray bytes;
        bool volume;
    };
    const QList<Copy> copies = {{0, "Center/DSC00001.JPG", QByteArray(3 << 20, 'c'), false},
                                {0, "Center/DSC 00002.JPG", "second photo", false},
                                {0, "Center/pack1.zip", "PK volume bytes", true},
                                {1, "Left/航线 1.JPG", QByteArray(5000, 'l'), false}};
    OffloadRecordWriter writer;
    QString error;
    ASSERT_TRUE(QDir().mkpath(save) && writer.open(OffloadRecord::pathIn(save), false, &error))
        << error.toStdString();
    OffloadRecord::FileLine line;
    line.cardUuid = "5A1B-09C3";
    line.cardPath = "DCIM/100MSDCF/DSC00001.JPG";
    line.verified = true;
    for (const Copy &copy : copies) {
        ASSERT_TRUE(writeFile(save + '/' + copy.path, copy.bytes));
        const quint64 hash = FileHash::of(copy.bytes);
        line.disk = copy.disk;
        line.copy = copy.path;
        line.copySize = copy.bytes.size();
        line.copyHash = hash;
        ASSERT_TRUE(copy.volume ? writer.append(
                                      {copy.disk, copy.path, line.copySize, hash, true, {}}, &error)
                                : writer.append(line, &error))
            << error.toStdString();
    }
}

const QMap<QString, int> allMatched = {
    {"center:files:matched", 2}, {"center:volumes:matched", 1}, {"left:files:matched", 1}};

/* Verified as it is (read-only where that can be had), then with one copy changed and one gone. */
TEST(VerifyCli, ReReadsEveryCopyAndNamesEachBadOne)
{
    QTemporaryDir dir;
    const QString save = dir.path() + "/飞行 1";
    ASSERT_NO_FATAL_FAILURE(makeSaveFolder(save));
    std::string why;
    const QString seen = readOnly(save, dir.path() + "/view", &why);
    CliRun run = verify(seen.isEmpty() ? save : seen);
    if (!seen.isEmpty() && seen != save)
        umount2(QFile::encodeName(seen).constData(), MNT_DETACH);
    for (const QString &sub : {save, save + "/Center", save + "/Left"})
        QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(counts(run.json), allMatched);
    if (seen.isEmpty())
        std::printf("verified a writable folder only: %s\n", why.c_str());

    ASSERT_TRUE(flipByte(save + "/Center/DSC 00002.JPG", 3));
    ASSERT_TRUE(QFile::remove(save + "/Left/航线 1.JPG"));
    run = verify(save);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(counts(run.json), (QMap<QString, int>{{"center:files:matched", 1},
                                                    {"center:files:mismatched", 1},
                                                    {"center:volumes:matched", 1},
                                                    {"left:files:missing", 1}}));
    EXPECT_TRUE(run.err.contains("Center/DSC 00002.JPG: mismatched")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Left/航线 1.JPG: missing")) << run.err.toStdString();
}

} // namespace
