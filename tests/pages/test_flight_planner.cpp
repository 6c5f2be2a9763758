// The collection assistant's planner: its checks refuse in the page's order with the page's
// message, the figures are the library's single-precision results truncated to whole metres,
// and orvex-cli plan prints the same figures and refusals.
#include "CliRun.h"
#include "pages/FlightPlanner.h"

#include <gtest/gtest.h>

namespace {

using FlightPlanner::Field;

/* A row's texts: GSD|focal length|forward overlap|side overlap. */
const struct Computed {
    const char *texts;
    int altitude, photoBase, lineSpacing;
} computed[] = {
    /* 0.05 m at 35 mm; single-precision figures truncated (399.99997 m is 399); the extremes. */
    {"5|35|80|70", 448, 40, 90},
    {"50|35|80|70", 4487, 399, 900},
    {"2|24|80|70", 123, 15, 36},
    {"10|50|100|100", 1282, 0, 0},
    {"999.999|99.999|0|0", 256407, 39999, 59999},
    {"0.0001|35|80|70", 0, 0, 0},
};

const struct Refused {
    const char *texts;
    Field field;
    const char *message;
} refused[] = {
    /* Each check, and two at once: the earlier one speaks (focal "1e1" is judged by size). */
    {".5|35|80|70", Field::Gsd, "输入值非法"},
    {"5.|35|80|70", Field::Gsd, "输入值非法"},
    {"1e1|35|80|70", Field::Gsd, "输入值非法"},
    {"1000|100|80|70", Field::Gsd, "GSD输入应小于1000!"},
    {"5|100|+80|70", Field::Focal, "焦距输入应小于100!"},
    {"5|35|8E1|70", Field::Forward, "输入值非法"},
    {"5|+5|+80|70", Field::Forward, "输入值非法"},
    {"5|35|80|7.", Field::Side, "输入值非法"},
    {"5|+5|80|70", Field::Focal, "输入值非法"},
    {"5|1e1|80|70", Field::Focal, "焦距输入应小于100!"},
    /* Texts that are no number, or out of range, never reach the library. */
    {"inf|35|80|70", Field::Gsd, "输入值非法"},
    {"-5|35|80|70", Field::Gsd, "输入值非法"},
    {"1.2.3|35|80|70", Field::Gsd, "输入值非法"},
    {"5|35|101|70", Field::Forward, "输入值非法"},
    {"5|35|80|99999999999", Field::Side, "输入值非法"},
    {"5|35|80.5|70", Field::Forward, "输入值非法"},
    /* Empty fields and zeros. */
    {"|35|80|70", Field::Gsd, "请输入GSD!"},
    {"5||80|70", Field::Focal, "请输入焦距!"},
    {"5|35||70", Field::Forward, "请输入重叠度!"},
    {"5|35|80|", Field::Side, "请输入旁向重叠度!"},
    {"5|00.000|80|70", Field::Focal, "焦距应大于0!"},
    {"0.0|35|80|70", Field::Gsd, "GSD应大于0!"},
};

FlightPlanner::Plan calculate(const char *texts)
{
    const QStringList t = QString::fromUtf8(texts).split(QLatin1Char('|'));
    return FlightPlanner::calculate({t[0], t[1], t[2], t[3]});
}

TEST(FlightPlanner, ChecksInThePagesOrderThenTheFigures)
{
    for (const Computed &row : computed) {
        SCOPED_TRACE(row.texts);
        const FlightPlanner::Plan plan = calculate(row.texts);
        EXPECT_TRUE(plan.ok()) << plan.reason.toStdString();
        EXPECT_EQ(plan.altitude, row.altitude);
        EXPECT_EQ(plan.photoBase, row.photoBase);
        EXPECT_EQ(plan.lineSpacing, row.lineSpacing);
    }
    for (const Refused &row : refused) {
        SCOPED_TRACE(row.texts);
        const FlightPlanner::Plan plan = calculate(row.texts);
        EXPECT_EQ(plan.refused, row.field);
        EXPECT_EQ(plan.message, QString::fromUtf8(row.message));
        EXPECT_FALSE(plan.reason.isEmpty());
        EXPECT_EQ(plan.altitude + plan.photoBase + plan.lineSpacing, 0);
    }
    EXPECT_EQ(FlightPlanner::metresText(448), QStringLiteral("448m"));
}

TEST(FlightPlanner, ScaleAndGsdFollowEachOtherAndOverlapsAreCapped)
{
    const QString gsdOfScale[] = {"5", "10", "20", "50", ""};
    for (int index = 0; index < 5; ++index)
        EXPECT_EQ(FlightPlanner::gsdForScale(index), gsdOfScale[index]) << index;
    const struct {
        const char *gsd;
        int scale;
    } typed[] = {{"1", 0},  {"5", 0},    {"6", 1},   {"7", 1},   {"10", 1},
                 {"11", 2}, {"20", 2},   {"21", 3},  {"999", 3}, {"0", -1},
                 {"", -1},  {"7.5", -1}, {"5.", -1}, {"-3", -1}, {"1e1", -1}};
    for (const auto &t : typed)
        EXPECT_EQ(FlightPlanner::scaleForGsd(QString::fromUtf8(t.gsd)), t.scale) << t.gsd;
    const char *overlaps[][2] = {{"120", "100"}, {"100", "100"}, {"99", "99"},
                                 {"0", "0"},     {"", ""},       {"+", "+"}};
    for (const auto &o : overlaps)
        EXPECT_EQ(FlightPlanner::cappedOverlap(QString::fromUtf8(o[0])), QString::fromUtf8(o[1]))
            << o[0];
}

const char *const options[] = {"--gsd", "--focal", "--forward", "--side"};

/* orvex-cli plan --json with the texts, in turn, as its options' values; fewer texts leave the
 * later options out. */
CliRun plan(const char *texts)
{
    QStringList args{QStringLiteral("plan"), QStringLiteral("--json")};
    const QStringList t = QString::fromUtf8(texts).split(QLatin1Char('|'));
    for (int i = 0; i < t.size(); ++i)
        args << QLatin1String(options[i]) + QLatin1Char('=') + t[i];
    return runCli({.args = args, .timeoutMs = 30000});
}

QJsonObject figures(int altitude, int photoBase, int lineSpacing)
{
    return {{QStringLiteral("altitude_m"), altitude},
            {QStringLiteral("photo_base_m"), photoBase},
            {QStringLiteral("line_spacing_m"), lineSpacing}};
}

TEST(PlanCli, PrintsTheEnginesFiguresAndRefusesWithExitTwo)
{
    for (const Computed &row : computed) {
        const CliRun run = plan(row.texts);
        EXPECT_EQ(run.status, 0) << row.texts << run.err.toStdString();
        EXPECT_EQ(run.json, figures(row.altitude, row.photoBase, row.lineSpacing)) << row.texts;
    }
    for (const Refused &row : refused) {
        const CliRun run = plan(row.texts);
        EXPECT_EQ(run.status, 2) << row.texts;
        const char *option = options[static_cast<int>(row.field) - 1];
        EXPECT_TRUE(run.err.contains(QLatin1String(option))) << row.texts << run.err.toStdString();
    }
    /* The overlaps default to the page's starting 80 and 70; GSD and lens are needed. */
    EXPECT_EQ(plan("5|35").json, figures(448, 40, 90));
    EXPECT_EQ(plan("5").status, 2);
    EXPECT_EQ(runCli({.args = {"plan", "--focal", "35"}, .timeoutMs = 30000}).status, 2);
}

} // namespace
