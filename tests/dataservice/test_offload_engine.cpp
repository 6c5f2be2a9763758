/*
 * The offload engine without cards: which volume is which lens's card, and
 * the per-lens worker, stopped and resumed half-way, giving exactly the files
 * of an uninterrupted run.
 */
#include "TestJpeg.h"
#include "dataservice/CardFinder.h"
#include "dataservice/DiskTask.h"
#include "dataservice/LensTable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(CardFinder, LabelsFoldersAndTwoCardsOfOneLens)
{
    const struct {
        const char *label;
        int disk;
    } labels[] = {{"Center", 0}, {"center", 0}, {"CENTER", 0}, {"CeNtEr", -1},     {"FrontLeft", 3},
                  {"BACK", 4},   {"right", 2},  {"LEFT", 1},   {"KORVELLAPOS", -1}};
    for (const auto &l : labels)
        EXPECT_EQ(LensTable::diskForLabel(QLatin1String(l.label)), l.disk) << l.label;
    EXPECT_EQ(LensTable::diskForName(QStringLiteral("Back")), 4);
    EXPECT_EQ(LensTable::diskForName(QStringLiteral("middle")), -1);

    QTemporaryDir a, b;
    /* The photo folder: the first DCIM folder in name order that holds JPEGs. */
    writeFile(a.filePath("DCIM/100EMPTY/readme.txt"), "x");
    writeFile(a.filePath("DCIM/102MEDIA/K1.JPG"), "x");
    writeFile(a.filePath("DCIM/101MEDIA/K1.jpeg"), "xy");
    writeFile(a.filePath("DCIM/101MEDIA/K2.JPG"), "xyz");
    EXPECT_EQ(CardFinder::photoFolder(a.path()), a.filePath("DCIM/101MEDIA"));
    EXPECT_EQ(CardFinder::photoFolder(b.path()), QString());

    QStringList notes;
    const QList<Card> cards = CardFinder::find({{"LEFT", a.path(), "/dev/loop1", "fuseblk"},
                                                {"Data", b.path(), "/dev/sda1", "ext4"},
                                                {"Left", b.path(), "/dev/loop2", "fuseblk"}},
                                               &notes);
    ASSERT_EQ(cards.size(), 1);
    EXPECT_EQ(cards[0].volume.device, QStringLiteral("/dev/loop2")); /* the later one */
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains(a.path()) && notes[0].contains(b.path()));
    const QList<Card> one = CardFinder::find({{"Center", a.path(), "/dev/loop1", "fuseblk"}});
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0].photos, 2);
    EXPECT_EQ(one[0].bytes, 5);
}

class Worker : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QByteArray photo = makeTestJpeg(64, 48, {"Korvella", "K7", "2023:06:14 11:00:01"}, 3);
        ASSERT_FALSE(photo.isEmpty());
        for (int k = 0; k < 6; ++k)
            writeFile(source(QStringLiteral("K%1.JPG").arg(k)), photo);
        writeFile(source("NOTES.TXT"), "lens center\n");
        QDir().mkpath(source("SUB"));
    }

    QString source(const QString &name = QString()) const
    {
        return m_dir.filePath(QStringLiteral("card/DCIM/100MEDIA/") + name);
    }

    std::unique_ptr<DiskTask> makeTask(const QString &destination)
    {
        auto task = std::make_unique<DiskTask>();
        QDir().mkpath(destination);
        disk_task_set_text(task->record.dest_folder, destination);
        disk_task_set_text(task->record.source_folder, source().chopped(1));
        disk_task_set_text(task->record.task_file, m_dir.filePath("center.log"));
        task->hooks.position = [](int index, GeoPosition *position) {
            *position = GeoPosition{116.33 + index * 0.001, -39.91, 500.0 + index};
            return index < 4;
        };
        return task;
    }

    /* A task run to its end without interruption: what the other runs are compared with. */
    std::unique_ptr<DiskTask> runWhole(const QString &destination)
    {
        auto task = makeTask(destination);
        EXPECT_EQ(disk_task_create(task.get(), 0), 0);
        waitUntilEnded(task.get());
        disk_task_stop(task.get(), 0);
        return task;
    }

    static void waitUntilEnded(DiskTask *task)
    {
        for (int i = 0; i < 3000 && !disk_task_finished(task); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(disk_task_finished(task));
    }

    QTemporaryDir m_dir;
};

TEST_F(Worker, StoppedAndResumedGivesTheFilesOfAnUninterruptedRun)
{
    const QString whole = m_dir.filePath("whole");
    const auto reference = runWhole(whole);
    EXPECT_EQ(disk_task_planned(reference.get()), 7); /* six photos and the text file */
    EXPECT_EQ(reference->run->geotagged.load(), 4);   /* four positions */
    EXPECT_TRUE(disk_task_error(reference.get()).isEmpty());

    const QString parts = m_dir.filePath("parts");
    auto task = makeTask(parts);
    /* Stopped after the second photo, as a stop between photos does. */
    int written = 0;
    DiskTask *raw = task.get();
    task->hooks.photoWritten = [&written, raw](const QString &, const PhotoInfo &) {
        if (++written == 2)
            std::atomic_ref<int32_t>(raw->record.running).store(0);
    };
    ASSERT_EQ(disk_task_create(task.get(), 0), 0);
    waitUntilEnded(task.get());
    disk_task_stop(task.get(), 0);
    const int stoppedAt = disk_task_done(task.get());
    /* The third was copied while the second was read back: it is finished before the stop. */
    EXPECT_EQ(stoppedAt, 3);

    /* A new run of the program: a new record, the task file says where to go on. */
    auto resumed = makeTask(parts);
    ASSERT_EQ(disk_task_resume(resumed.get(), 0), 0);
    waitUntilEnded(resumed.get());
    EXPECT_EQ(disk_task_done(resumed.get()), 7);

    const QStringList names = QDir(whole).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(names.size(), 7);
    EXPECT_EQ(QDir(parts).entryList(QDir::Files | QDir::Hidden), names);
    for (const QString &name : names)
        EXPECT_EQ(readAll(parts + '/' + name), readAll(whole + '/' + name)) << name.toStdString();
}

TEST_F(Worker, CopyThatReadsBackWrongIsMadeOnceMore)
{
    const QString whole = m_dir.filePath("whole");
    const auto reference = runWhole(whole);
    EXPECT_EQ(reference->run->verified.load(), 7);

    /* The disk gives back other bytes for K2.JPG: once, then every time. */
    for (const int damaged : {1, 2}) {
        SCOPED_TRACE(damaged);
        const QString out = m_dir.filePath(QStringLiteral("out%1").arg(damaged));
        auto task = makeTask(out);
        std::atomic<int> left{damaged};
        task->hooks.beforeReadBack = [&left](const QString &copy) {
            QFile file(copy);
            if (copy.endsWith(QLatin1String("K2.JPG")) && left-- > 0 &&
                file.open(QIODevice::ReadWrite) && file.seek(20))
                file.putChar('\x5a');
        };
        ASSERT_EQ(disk_task_create(task.get(), 0), 0);
        waitUntilEnded(task.get());
        disk_task_stop(task.get(), 0);
        const QString error = disk_task_error(task.get());
        if (damaged == 1) {
            EXPECT_TRUE(error.isEmpty()) << error.toStdString();
            EXPECT_EQ(task->run->verified.load(), 7);
            EXPECT_EQ(readAll(out + "/K2.JPG"), readAll(whole + "/K2.JPG"));
        } else {
            EXPECT_TRUE(error.contains("K2.JPG") && error.contains("copied twice"))
                << error.toStdString();
            EXPECT_EQ(disk_task_done(task.get()), 2);
            EXPECT_FALSE(QFile::exists(out + "/K2.JPG"));
        }
    }
}

TEST_F(Worker, FailuresEndTheTaskWithTheirReason)
{
    /* A path too long for the task file is refused before anything is copied. */
    const QString longName = QString(250, QLatin1Char('a')) + QStringLiteral(".JPG");
    writeFile(source(longName), "x");
    auto refused = makeTask(m_dir.filePath("out1"));
    QString error;
    EXPECT_EQ(disk_task_create(refused.get(), 0, &error), -1);
    EXPECT_TRUE(error.contains(longName)) << error.toStdString();
    EXPECT_TRUE(QDir(m_dir.filePath("out1")).isEmpty());
    QFile::remove(source(longName));

    /* A photo gone from the card after the listing: the task ends there, naming it. */
    auto task = makeTask(m_dir.filePath("out2"));
    task->hooks.photoWritten = [this](const QString &path, const PhotoInfo &) {
        if (path.endsWith(QLatin1String("K1.JPG")))
            QFile::remove(source("K3.JPG"));
    };
    ASSERT_EQ(disk_task_create(task.get(), 0), 0);
    waitUntilEnded(task.get());
    EXPECT_EQ(disk_task_done(task.get()), 3);
    EXPECT_TRUE(disk_task_error(task.get()).contains(source("K3.JPG")))
        << disk_task_error(task.get()).toStdString();
    EXPECT_EQ(QDir(m_dir.filePath("out2")).entryList(QDir::Files | QDir::Hidden).size(), 3);

    EXPECT_EQ(disk_task_create(task.get(), 6), -1);
}

} // namespace
