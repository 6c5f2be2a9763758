/* Taskconfig.xml: round trip, layout, permissions, bad files and the resume rule. */
#include "dataservice/TaskConfig.h"

#include "TestFiles.h"

#include <QDomDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>

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
    c.sorties = c.split = c.usePassword = true;
    c.splitValue = "4GB";
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

TEST(TaskConfig, RoundTripLayoutAndMode)
{
    QTemporaryDir dir;
    const QString file = TaskConfig::path(dir.path());
    ASSERT_EQ(file, dir.path() + "/Taskconfig.xml");
    const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    ASSERT_TRUE(writeFile(file, "old") && QFile::setPermissions(file, owner | QFile::ReadOther));

    const TaskConfig in = fullConfig();
    QString error;
    ASSERT_TRUE(in.write(file, &error)) << error.toStdString();
    EXPECT_EQ(QFile::permissions(file), owner); /* 0600: it holds the password */
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
    const QDomElement gps = root.firstChildElement("pose").firstChildElement();
    EXPECT_EQ(gps.firstChildElement("gpslist").firstChildElement().attribute("y"), "30.1235");

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

    // What read() would refuse is not written: the file from before stays.
    const QByteArray before = readAll(file);
    const std::pair<const char *, std::function<void(TaskConfig &)>> refusals[] = {
        {"negative count", [](TaskConfig &c) { c.pans[2].planCount = -1; }},
        {"negative count", [](TaskConfig &c) { c.pans[1].hasCount = -1; }},
        {"XML cannot carry", [](TaskConfig &c) { c.pans[0].zipName = "pack\x01.zip"; }},
        {"2 times but 1 positions", [](TaskConfig &c) { c.pose[0].positions.removeLast(); }},
        {"not a number", [](TaskConfig &c) { c.pose[1].positions[0].alt = NAN; }},
    };
    for (const auto &[reason, change] : refusals) {
        SCOPED_TRACE(reason);
        TaskConfig bad = in;
        change(bad);
        EXPECT_FALSE(bad.write(file, &error));
        EXPECT_TRUE(error.contains(reason)) << error.toStdString();
        EXPECT_EQ(readAll(file), before);
    }
}

/*
 * Damaged files are refused with a reason naming the file. Only a tasksuccess flag "false", or
 * none, offers a resume; a file without the element is refused.
 */
TEST(TaskConfig, BadFilesGiveAReasonAndTheResumeRule)
{
    QTemporaryDir dir;
    const QString file = TaskConfig::path(dir.path());
    ASSERT_TRUE(fullConfig().write(file, nullptr));
    const QByteArray good = readAll(file);
    const auto edit = [&](const char *from, const char *to) {
        return QByteArray(good).replace(from, to);
    };
    const auto flag = [&](const char *to) { return edit("<tasksuccess flag=\"false\"/>", to); };
    enum { Refused, Done, Resumable };
    const std::tuple<const char *, QByteArray, int> cases[] = {
        {"empty", QByteArray(), Refused},
        {"garbage", "\x01\xff not xml at all", Refused},
        {"cut in declaration", good.left(20), Refused},
        {"cut in pans", good.left(good.indexOf("<right") + 8), Refused},
        {"cut in pose", good.left(good.indexOf("<gpslist") + 3), Refused},
        {"cut before the end", good.left(good.size() - 4), Refused},
        {"wrong root", edit("config>", "konfig>"), Refused},
        {"no tasksuccess", flag("<other/>"), Refused},
        {"no pans", edit("pans>", "pens>"), Refused},
        {"no savapath", edit("<savapath", "<savepath"), Refused},
        {"negative count", edit("plancount=\"118\"", "plancount=\"-1\""), Refused},
        {"count not a number", edit("hascount=\"37\"", "hascount=\"3x\""), Refused},
        {"time not a number", edit("value=\"1002\"", "value=\"abc\""), Refused},
        {"negative time", edit("value=\"1002\"", "value=\"-2\""), Refused},
        {"position not a number", edit("x=\"116.4\"", "x=\"nan\""), Refused},
        {"lists of different lengths", edit("<time value=\"4000\"/>", ""), Refused},
        {"flag true", flag("<tasksuccess flag=\"true\"/>"), Done},
        {"no flag", flag("<tasksuccess/>"), Resumable},
        {"flag yes", flag("<tasksuccess flag=\"yes\"/>"), Done},
        {"element after it", flag("<tasksuccess flag=\"false\"/><x/>"), Resumable},
    };
    for (const auto &[name, bytes, want] : cases) {
        SCOPED_TRACE(name);
        ASSERT_NE(bytes, good);
        ASSERT_TRUE(writeFile(file, bytes));
        QString error;
        const std::optional<TaskConfig> c = TaskConfig::read(file, &error);
        EXPECT_EQ(c ? c->success ? Done : Resumable : Refused, want);
        EXPECT_TRUE(c || (error.contains(file) && !error.contains('\n'))) << error.toStdString();
    }
    QString error;
    EXPECT_FALSE(TaskConfig::read(dir.path() + "/none.xml", &error));
    EXPECT_FALSE(error.isEmpty());

    /* Missing attributes and elements: empty, 0 or off. */
    ASSERT_TRUE(writeFile(file, "<config><pans><left path=\"/l\"/></pans><savapath path=\"/s\"/>"
                                "<tasksuccess/></config>"));
    const std::optional<TaskConfig> c = TaskConfig::read(file, &error);
    ASSERT_TRUE(c) << error.toStdString();
    EXPECT_EQ(c->pans[1].path, "/l");
    EXPECT_EQ(c->pans[1].planCount, 0);
    EXPECT_FALSE(c->pans[1].hasTask || c->success);
    EXPECT_TRUE(c->pose.isEmpty() && !c->sorties && !c->split && !c->usePassword);
}

} // namespace
