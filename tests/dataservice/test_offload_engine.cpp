/*
 * The offload engine without cards: which volume is which lens's card, and
 * the per-lens worker, stopped and resumed half-way, giving exactly the files
 * of an uninterrupted run.
 */
#include "TestFiles.h"
#include "TestJpeg.h"
#include "dataservice/CardFinder.h"
#include "dataservice/DiskTask.h"
#include "dataservice/LensTable.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(CardFinder, LabelsFoldersAndTwoCardsOfOneLens)
{
    const std::pair<const char *, int> labels[] = {
        {"Center", 0}, {"center", 0}, {"CENTER", 0}, {"CeNtEr", -1},     {"FrontLeft", 3},
        {"BACK", 4},   {"right", 2},  {"LEFT", 1},   {"KORVELLAPOS", -1}};
    for (const auto &[label, disk] : labels)
        EXPECT_EQ(LensTable::diskForLabel(QLatin1String(label)), disk) << label;
    EXPECT_EQ(LensTable::diskForName("Back"), 4);
    EXPECT_EQ(LensTable::diskForName("middle"), -1);

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
    EXPECT_EQ(cards[0].volume.device, "/dev/loop2"); /* the later one */
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains(a.path()) && notes[0].contains(b.path()));
    const QList<Card> one = CardFinder::find({{"Center", a.path(), "/dev/loop1", "fuseblk"}});
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0].photos, 2);
    EXPECT_EQ(one[0].bytes, 5);
}

/* Starts the task afresh or from its task file and waits until the worker has ended (its thread
   is joined when the task is destroyed). */
void run(DiskTask *task, bool resume = false)
{
    ASSERT_EQ(resume ? disk_task_resume(task, 0) : disk_task_create(task, 0), 0);
    for (int i = 0; i < 3000 && !disk_task_finished(task); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(disk_task_finished(task));
}

/*
 * Six photos and a text file on the card, the first four photos with a position: an
 * uninterrupted run; runs stopped and resumed or whose copies read back wrong give its files;
 * failures end a task with their reason.
 */
TEST(Worker, StopResumeReadBackAndFailures)
{
    QTemporaryDir dir;
    const auto source = [&](const QString &name) {
        return dir.filePath("card/DCIM/100MEDIA/" + name);
    };
    const QByteArray photo = makeTestJpeg(64, 48, {"Korvella", "K7", "2023:06:14 11:00:01"}, 3);
    ASSERT_FALSE(photo.isEmpty());
    for (int k = 0; k < 6; ++k)
        writeFile(source(QStringLiteral("K%1.JPG").arg(k)), photo);
    writeFile(source("NOTES.TXT"), "lens center\n");
    QDir().mkpath(source("SUB"));
    const auto makeTask = [&](const QString &destination) {
        auto task = std::make_unique<DiskTask>();
        QDir().mkpath(dir.filePath(destination));
        disk_task_set_text(task->record.dest_folder, dir.filePath(destination));
        disk_task_set_text(task->record.source_folder, source("").chopped(1));
        disk_task_set_text(task->record.task_file, dir.filePath("center.log"));
        task->hooks.position = [](int index, GeoPosition *position) {
            *position = GeoPosition{116.33 + index * 0.001, -39.91, 500.0 + index};
            return index < 4;
        };
        return task;
    };
    /* The files of a destination folder, each the same as the uninterrupted run's. */
    const auto expectWhole = [&](const QString &destination) {
        const QStringList names = QDir(dir.filePath("whole")).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(names.size(), 7);
        EXPECT_EQ(QDir(dir.filePath(destination)).entryList(QDir::Files | QDir::Hidden), names);
        for (const QString &name : names)
            EXPECT_EQ(readAll(dir.filePath(destination + '/' + name)),
                      readAll(dir.filePath("whole/" + name)))
                << name.toStdString();
    };

    const auto reference = makeTask("whole");
    run(reference.get());
    EXPECT_EQ(disk_task_planned(reference.get()), 7); /* six photos and the text file */
    EXPECT_EQ(reference->run->geotagged.load(), 4);   /* four positions */
    EXPECT_EQ(reference->run->verified.load(), 7);
    EXPECT_TRUE(disk_task_error(reference.get()).isEmpty());

    /* Stopped after the second photo, as a stop between photos does. */
    auto task = makeTask("parts");
    int written = 0;
    DiskTask *raw = task.get();
    task->hooks.photoWritten = [&written, raw](const QString &, const PhotoInfo &) {
        if (++written == 2)
            std::atomic_ref<int32_t>(raw->record.running).store(0);
    };
    run(task.get());
    EXPECT_EQ(disk_task_stop(task.get(), 0), 0);
    /* The third was copied while the second was read back: it is finished before the stop. */
    EXPECT_EQ(disk_task_done(task.get()), 3);
    /* A new run of the program: a new record, the task file says where to go on. */
    auto resumed = makeTask("parts");
    run(resumed.get(), true);
    EXPECT_EQ(disk_task_done(resumed.get()), 7);
    expectWhole("parts");

    /* The disk gives back other bytes for K2.JPG: once (copied again), then every time. */
    for (const int damaged : {1, 2}) {
        SCOPED_TRACE(damaged);
        const QString out = QStringLiteral("out%1").arg(damaged);
        auto task = makeTask(out);
        std::atomic<int> left{damaged};
        task->hooks.beforeReadBack = [&left](const QString &copy) {
            if (copy.endsWith(QLatin1String("K2.JPG")) && left-- > 0)
                flipByte(copy, 20);
        };
        run(task.get());
        const QString error = disk_task_error(task.get());
        if (damaged == 1) {
            EXPECT_TRUE(error.isEmpty()) << error.toStdString();
            EXPECT_EQ(task->run->verified.load(), 7);
            expectWhole(out);
        } else {
            EXPECT_TRUE(error.contains("K2.JPG") && error.contains("copied twice"))
                << error.toStdString();
            EXPECT_EQ(disk_task_done(task.get()), 2);
            EXPECT_FALSE(QFile::exists(dir.filePath(out + "/K2.JPG")));
        }
    }

    /* A path too long for the task file is refused before anything is copied. */
    const QString longName = QString(250, QLatin1Char('a')) + ".JPG";
    writeFile(source(longName), "x");
    auto refused = makeTask("out3");
    QString error;
    EXPECT_EQ(disk_task_create(refused.get(), 0, &error), -1);
    EXPECT_TRUE(error.contains(longName)) << error.toStdString();
    EXPECT_TRUE(QDir(dir.filePath("out3")).isEmpty());
    QFile::remove(source(longName));

    /* A photo gone from the card after the listing: the task ends there, naming it. */
    auto gone = makeTask("out4");
    gone->hooks.photoWritten = [&](const QString &path, const PhotoInfo &) {
        if (path.endsWith(QLatin1String("K1.JPG")))
            QFile::remove(source("K3.JPG"));
    };
    run(gone.get());
    EXPECT_EQ(disk_task_done(gone.get()), 3);
    EXPECT_TRUE(disk_task_error(gone.get()).contains(source("K3.JPG")))
        << disk_task_error(gone.get()).toStdString();
    EXPECT_EQ(QDir(dir.filePath("out4")).entryList(QDir::Files | QDir::Hidden).size(), 3);

    /* A file that holds other bytes than its size said (as one still being written does; /proc's
     * files say 0): the task ends there, naming it. */
    ASSERT_TRUE(QFile::link("/proc/self/status", source("ZSTATUS.TXT")));
    auto growing = makeTask("out5");
    run(growing.get());
    EXPECT_EQ(disk_task_done(growing.get()), 6);
    EXPECT_TRUE(disk_task_error(growing.get()).contains("ZSTATUS.TXT changed while it was read"))
        << disk_task_error(growing.get()).toStdString();

    EXPECT_EQ(disk_task_create(gone.get(), 6), -1);
}

} // namespace
