/* orvex-cli plan: the collection assistant's flight planning from a terminal. */
#include "CliArgs.h"
#include "CliOutput.h"
#include "Commands.h"
#include "pages/FlightPlanner.h"

#include <QJsonObject>

#include <cstdio>

namespace {

using CliOutput::fail;

const char planUsage[] =
    "usage: orvex-cli plan --gsd CM --focal MM [--forward PCT] [--side PCT] [--json]\n"
    "Flight planning as Orvex's collection assistant does it, without a camera: the flight\n"
    "altitude for the wanted ground sample distance (CM, centimetres) with a lens of focal\n"
    "length MM (millimetres), the photo base (distance between exposures along a line) for\n"
    "the forward overlap and the line spacing for the side overlap (PCT, whole percentages\n"
    "from 0 to 100; defaults 80 and 70), each in whole metres, truncated. --json prints\n"
    "altitude_m, photo_base_m and line_spacing_m. The page's checks apply: CM and MM are plain\n"
    "decimal numbers (no sign, no exponent, no leading or trailing '.'), CM below 1000 and MM\n"
    "below 100, neither 0. Exit 0 with the figures, 2 when a value is refused (the reason\n"
    "names the option).\n";

QString optionOf(FlightPlanner::Field field)
{
    switch (field) {
    case FlightPlanner::Field::Gsd:
        return QStringLiteral("--gsd");
    case FlightPlanner::Field::Focal:
        return QStringLiteral("--focal");
    case FlightPlanner::Field::Forward:
        return QStringLiteral("--forward");
    default:
        return QStringLiteral("--side");
    }
}

QString textOf(const FlightPlanner::Inputs &inputs, FlightPlanner::Field field)
{
    switch (field) {
    case FlightPlanner::Field::Gsd:
        return inputs.gsd;
    case FlightPlanner::Field::Focal:
        return inputs.focal;
    case FlightPlanner::Field::Forward:
        return inputs.forward;
    default:
        return inputs.side;
    }
}

} // namespace

int runPlan(const QStringList &words)
{
    CliArgs args;
    QString error;
    if (!args.parse(words,
                    {{QStringLiteral("gsd"), true},
                     {QStringLiteral("focal"), true},
                     {QStringLiteral("forward"), true},
                     {QStringLiteral("side"), true},
                     {QStringLiteral("json"), false}},
                    &error))
        return fail(QStringLiteral("plan: %1").arg(error), CliOutput::Usage);
    if (args.help()) {
        std::fputs(planUsage, stdout);
        return CliOutput::Done;
    }
    if (!args.positionals().isEmpty())
        return fail(
            QStringLiteral("plan: unexpected argument '%1'").arg(args.positionals().first()),
            CliOutput::Usage);
    for (const char *needed : {"gsd", "focal"})
        if (!args.has(QLatin1String(needed)))
            return fail(QStringLiteral("plan needs --%1 (see plan --help)").arg(needed),
                        CliOutput::Usage);

    const FlightPlanner::Inputs inputs{
        args.value(QStringLiteral("gsd")), args.value(QStringLiteral("focal")),
        args.value(QStringLiteral("forward"), FlightPlanner::defaultForward),
        args.value(QStringLiteral("side"), FlightPlanner::defaultSide)};
    const FlightPlanner::Plan plan = FlightPlanner::calculate(inputs);
    if (!plan.ok())
        return fail(QStringLiteral("plan: %1 '%2' %3")
                        .arg(optionOf(plan.refused), textOf(inputs, plan.refused), plan.reason),
                    CliOutput::Usage);

    if (args.has(QStringLiteral("json"))) {
        CliOutput::json({{QStringLiteral("altitude_m"), plan.altitude},
                         {QStringLiteral("photo_base_m"), plan.photoBase},
                         {QStringLiteral("line_spacing_m"), plan.lineSpacing}});
    } else {
        CliOutput::line(QStringLiteral("altitude      %1 m").arg(plan.altitude));
        CliOutput::line(QStringLiteral("photo base    %1 m").arg(plan.photoBase));
        CliOutput::line(QStringLiteral("line spacing  %1 m").arg(plan.lineSpacing));
    }
    return CliOutput::Done;
}
