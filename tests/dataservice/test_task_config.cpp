/* Taskconfig.xml: round trip, layout, permissions, bad files and the resume rule. */
#include "dataservice/TaskConfig.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TaskConfig fullConfig()
{
    TaskConfig c;
    c.pans[0] = {"/media/c/DCIM", 120, 37, true, "/save/Center/pack3.zip", "pack3.zip"};
    c.pans[1] = {"/media/l/DCIM", 118, 0, false, {}, {}};
    c.pans[2] = {"/media/r/DCIM", 121, 121, true, "/save/Right/pack1", "pack1"};
    c.pans[3] = {}; // Front and Back not offloaded
    c.saveDir = "/save/飞行 1";
    c.pose = {{"/pos/a.txt", {1000, 1002}, {{116.3912345, 30.1234567, 523.456}, {-0.5, 1e-7, 0}}},
              {"/pos/b.txt", {4000}, {{116.4, 30.2, 1234567.8}}}};
    c.sorties = true;
    c.split = true;
    c.splitValue = "4GB";
    c.usePassword = true;
    c.password = "a<b&c\"d'e> f";
    c.success = false;
    return c;
}

QStringList childNames(const QDomElement &parent)
{
    QStringList names;
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        names << e.tagName();
    return names;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

TEST(TaskConfig, RoundTripLayoutAndMode)
{
    QTemporaryDir dir;
    const QString file = TaskConfig::path(dir.path());
    ASSERT_EQ(file, dir.path() + "/Taskconfig.xml");
    writeBytes(file, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);

    const TaskConfig in = fullConfig();
    QString error;
    ASSERT_TRUE(in.write(file, &error)) << error.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Taskconfig.xml"});

    const QByteArray bytes = readAll(file);
    EXPECT_TRUE(bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>")) << bytes.data();
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(bytes));
    const QDomElement root = doc.documentElement();
    EXPECT_EQ(childNames(root), QStringList({"pans", "savapath", "pose", "qufenjiaci", "fenquan",
                                             "password", "tasksuccess"}));
    const QDomElement pans = root.firstChildElement("pans");
    EXPECT_EQ(childNames(pans), QStringList({"center", "front", "right", "left", "back"}));
    EXPECT_TRUE(pans.firstChildElement("center").hasAttribute("zippath"));
    EXPECT_FALSE(pans.firstChildElement("left").hasAttribute("zipname"));
    EXPECT_EQ(root.firstChildElement("pose")
                  .firstChildElement()
                  .firstChildElement("gpslist")
                  .firstChildElement()
                  .attribute("y"),
              "30.1235");

    // Read back, every value written again the same: nothing is lost or changed.
    const std::optional<TaskConfig> out = TaskConfig::read(file, &error);
    ASSERT_TRUE(out) << error.toStdString();
    ASSERT_TRUE(out->write(file, &error));
    EXPECT_EQ(readAll(file), bytes);
    EXPECT_EQ(out->pose[0].positions[0].lat, 30.1235); // six significant digits
    EXPECT_EQ(out->pose[1].positions[0].alt, 1234570.0);
    EXPECT_EQ(out->password, in.password);
    EXPECT_TRUE(out->pans[0].hasTask && !out->pans[1].hasTask && !out->success);

    // Options that are off carry no value, so no password stays behind.
    TaskConfig off = in;
    off.usePassword = off.split = false;
    ASSERT_TRUE(off.write(file, &error));
    const std::optional<TaskConfig> back = TaskConfig::read(file, &error);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->password.isEmpty() && back->splitValue.isEmpty());
    EXPECT_FALSE(readAll(file).contains("a&lt;b"));

    EXPECT_FALSE(in.write(dir.path() + "/missing/Taskconfig.xml", &error));
    EXPECT_TRUE(error.contains("missing/Taskconfig.xml")) << error.toStdString();
}

TEST(TaskConfig, BadFilesGiveAReason)
{
    QTemporaryDir dir;
    const QString file = TaskConfig::path(dir.path());
    ASSERT_TRUE(fullConfig().write(file, nullptr));
    const QByteArray good = readAll(file);
    const auto edit = [&](const char *from, const char *to) {
        QByteArray b = good;
        return b.replace(from, to);
    };
    const std::pair<const char *, QByteArray> cases[] = {
        {"empty", QByteArray()},
        {"garbage", "\x01\xff not xml at all"},
        {"cut in declaration", good.left(20)},
        {"cut in pans", good.left(good.indexOf("<right") + 8)},
        {"cut in pose", good.left(good.indexOf("<gpslist") + 3)},
        {"cut before the end", good.left(good.size() - 4)},
        {"wrong root", edit("config>", "konfig>")},
        {"no tasksuccess", edit("<tasksuccess flag=\"false\"/>", "<other/>")},
        {"no pans", edit("pans>", "pens>")},
        {"no savapath", edit("<savapath", "<savepath")},
        {"negative count", edit("plancount=\"118\"", "plancount=\"-1\"")},
        {"count not a number", edit("hascount=\"37\"", "hascount=\"3x\"")},
        {"time not a number", edit("value=\"1002\"", "value=\"abc\"")},
        {"negative time", edit("value=\"1002\"", "value=\"-2\"")},
        {"position not a number", edit("x=\"116.4\"", "x=\"nan\"")},
        {"lists of different lengths", edit("<time value=\"4000\"/>", "")},
    };
    for (const auto &[name, bytes] : cases) {
        SCOPED_TRACE(name);
        ASSERT_NE(bytes, good);
        writeBytes(file, bytes);
        QString error;
        EXPECT_FALSE(TaskConfig::read(file, &error));
        EXPECT_TRUE(error.contains(file)) << error.toStdString();
        EXPECT_FALSE(error.contains('\n'));
    }
    QString error;
    EXPECT_FALSE(TaskConfig::read(dir.path() + "/none.xml", &error));
    EXPECT_FALSE(error.isEmpty());
}

/*
 * Only a tasksuccess flag "false", or none, offers a resume (!success);
 * a file without tasksuccess at all is refused (see BadFilesGiveAReason).
 */
TEST(TaskConfig, ResumeRule)
{
    QTemporaryDir dir;
    const QString file = TaskConfig::path(dir.path());
    const std::pair<const char *, bool> cases[] = {
        {"<tasksuccess flag=\"true\"/>", true},
        {"<tasksuccess flag=\"false\"/>", false},
        {"<tasksuccess/>", false},
        {"<tasksuccess flag=\"yes\"/>", true},
        {"<tasksuccess flag=\"false\"/><x/>", false},
    };
    for (const auto &[last, success] : cases) {
        SCOPED_TRACE(last);
        writeBytes(file,
                   QByteArray("<config><pans><left path=\"/l\"/></pans><savapath path=\"/s\"/>") +
                       last + "</config>");
        QString error;
        const std::optional<TaskConfig> c = TaskConfig::read(file, &error);
        ASSERT_TRUE(c) << error.toStdString();
        EXPECT_EQ(c->success, success);
        EXPECT_EQ(c->pans[1].path, "/l"); // missing attributes: empty or 0
        EXPECT_EQ(c->pans[1].planCount, 0);
        EXPECT_FALSE(c->pans[1].hasTask);
        EXPECT_TRUE(c->pose.isEmpty() && !c->sorties && !c->split && !c->usePassword);
    }
}

} // namespace
