/* orvex-cli orientation: the photo tool's orientation reset from a terminal. */
#include "CliArgs.h"
#include "CliOutput.h"
#include "Commands.h"
#include "tools/OrientationReset.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>

namespace {

using CliOutput::fail;

const char orientationUsage[] =
    "usage: orvex-cli orientation DIR [--json]\n"
    "Reset the EXIF orientation (Exif.Image.Orientation) of every photo in the folder tree DIR\n"
    "to 1, as Orvex's photo tool does. Photos are the files whose suffix is exactly jpg, JPG,\n"
    "jpeg or png (hidden ones too; symbolic links are not followed). Only the orientation\n"
    "changes: a JPEG's image data stays byte for byte, each photo is replaced whole through a\n"
    "temporary file beside it and keeps its mode; a photo without the tag gets it. Prints the\n"
    "count, then each photo that could not be changed and why. Exit 0 when every photo has\n"
    "orientation 1, 1 when some could not be changed or DIR cannot be listed, 2 bad usage,\n"
    "130 interrupted (between photos).\n";

int runOrientationCommand(const CliArgs &args)
{
    if (args.positionals().size() != 1)
        return fail(args.positionals().isEmpty()
                        ? QStringLiteral("orientation needs a folder (see --help)")
                        : QStringLiteral("unexpected argument '%1'").arg(args.positionals().at(1)),
                    CliOutput::Usage);
    const bool asJson = args.has(QStringLiteral("json"));
    const QString folder = args.positionals().first();

    ProgressReporter progress(QStringLiteral("orientation"), QStringLiteral("photos"));
    const OrientationSummary summary = OrientationReset::run(
        folder,
        [asJson](int count) {
            if (!asJson)
                CliOutput::line(QStringLiteral("%1 photos found").arg(count));
        },
        [&progress](int done, int total) { progress.update(done, total); },
        [] { return CliOutput::interrupted(); });
    progress.finish();
    if (!summary.error.isEmpty())
        return fail(QStringLiteral("%1: %2").arg(folder, summary.error));

    QJsonArray failures;
    for (const OrientationFailure &failure : summary.failures) {
        fail(QStringLiteral("%1: %2").arg(failure.path, failure.reason));
        failures.append(QJsonObject{{QStringLiteral("file"), failure.path},
                                    {QStringLiteral("reason"), failure.reason}});
    }
    if (asJson)
        CliOutput::json({{QStringLiteral("folder"), folder},
                         {QStringLiteral("found"), summary.found},
                         {QStringLiteral("changed"), summary.changed},
                         {QStringLiteral("unchanged"), summary.unchanged},
                         {QStringLiteral("failures"), failures},
                         {QStringLiteral("stopped"), summary.stopped},
                         {QStringLiteral("ok"), failures.isEmpty() && !summary.stopped}});
    else
        CliOutput::line(QStringLiteral("%1 changed, %2 already 1, %3 could not be changed")
                            .arg(summary.changed)
                            .arg(summary.unchanged)
                            .arg(summary.failures.size()));
    if (summary.stopped)
        return fail(QStringLiteral("interrupted; the photos not reached keep their orientation"),
                    CliOutput::Interrupted);
    return summary.failures.isEmpty() ? CliOutput::Done : CliOutput::Failed;
}

} // namespace

int runOrientation(const QStringList &words)
{
    return runCommand(words, {{QStringLiteral("json"), false}}, orientationUsage, true,
                      runOrientationCommand);
}
