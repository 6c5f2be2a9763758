/*
 * orvex-cli status, strategy and shutter: what the main window's status
 * panel, the strategy pages and the device debug page do, from a terminal.
 */
#include "CameraSession.h"
#include "CliArgs.h"
#include "CliOutput.h"
#include "Commands.h"
#include "pages/CameraCounts.h"
#include "pages/StrategyRecords.h"
#include "shell/CameraFields.h"
#include "shell/StatusDisplay.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

using CameraFields::load;
using CliOutput::fail;
using StrategyRecords::Field;
using StrategyRecords::Outcome;

const char statusUsage[] =
    "usage: orvex-cli status [--seconds N] [--json]\n"
    "Connect, wait up to N seconds (default 5) for the camera's identity and status, print them\n"
    "and disconnect: serial, firmware, hardware, release date, POS record size, mode, strategy\n"
    "(the main window's text), the fault mask and the cameras it names faulty (by the firmware\n"
    "generation's reading), self-check, GPS fix, satellites, total exposures, the five cameras'\n"
    "counts and the work-parameter record the camera reports. Exit 0 done, 1 when no camera\n"
    "answered, 2 bad usage, 130 interrupted.\n";

const char strategyUsage[] =
    "usage: orvex-cli strategy KIND ... [--yes] [--json]\n"
    "  distance METRES [ACTIVATION]   one photograph every METRES flown\n"
    "  timed SECONDS [ACTIVATION]     one photograph every SECONDS (tenths count)\n"
    "  pwm --pulse MS --period MS --duration MS\n"
    "  io high|low --duration MS\n"
    "  edge rising|falling\n"
    "ACTIVATION is one of --gear (default: the landing-gear signal, which the camera must\n"
    "report), --level high|low, --power-delay S, --manual-delay S, --height M.\n"
    "The record the camera reports is the starting point; the strategy page's fields and checks\n"
    "apply, and a value the page refuses exits 2 with the reason before anything is sent.\n"
    "Without --yes the question is asked on the terminal. After sending, the record is read\n"
    "back from the camera's status. --json prints the 24 bytes sent as record_hex. Exit 0 when\n"
    "the camera reports the record back, 1 when it does not or nothing was sent, 2 bad usage.\n";

const char shutterUsage[] =
    "usage: orvex-cli shutter [--json]\n"
    "One test exposure on all cameras, as the device debug page's button fires it; prints the\n"
    "total exposures and the five cameras' counts before and after. Exit 1 when the library\n"
    "refuses (a Q7X camera takes test exposures only in debug mode) or no new exposure is\n"
    "reported within 10 s.\n";

/* Let the link work until `done` holds or `milliseconds` have passed; false on an interrupt. */
bool waitUntil(const std::function<bool()> &done, qint64 milliseconds, bool *interrupted)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= milliseconds)
            return false;
        if (!pauseBriefly()) {
            *interrupted = true;
            return false;
        }
    }
    return true;
}

/* Configuration, position and status frames decoded so far. */
std::array<uint32_t, 3> reportCounts(q7x_t *camera)
{
    return {q7x_get_frame_count(camera, 'A'), q7x_get_frame_count(camera, 'B'),
            q7x_get_frame_count(camera, 'C')};
}

/* A configuration, a position and a status frame have each come since `before`. */
bool statusSeen(q7x_t *camera, const std::array<uint32_t, 3> &before)
{
    const std::array<uint32_t, 3> now = reportCounts(camera);
    for (size_t i = 0; i < now.size(); ++i)
        if (now[i] == before[i])
            return false;
    return true;
}

/* Connect and wait for the status frames; a failure's exit status, or Done. */
int connectForStatus(CameraSession &session, double seconds, bool needIdentity)
{
    QString error;
    if (!session.open(&error))
        return fail(error);
    QElapsedTimer clock;
    clock.start();
    if (needIdentity && !session.waitForIdentity(seconds))
        return CliOutput::interrupted() ? CliOutput::Interrupted
                                        : fail(QStringLiteral("no camera answered"));
    /* With the identity known, frames decoded before it are not enough: the status frame's
     * fault bits are read by the firmware generation. */
    const std::array<uint32_t, 3> before =
        needIdentity ? reportCounts(session.camera()) : std::array<uint32_t, 3>{};
    bool interrupted = false;
    const qint64 left =
        std::max<qint64>(1000, static_cast<qint64>(seconds * 1000) - clock.elapsed());
    if (!waitUntil([&] { return statusSeen(session.camera(), before); }, left, &interrupted))
        return interrupted ? CliOutput::Interrupted : fail(QStringLiteral("no camera answered"));
    return CliOutput::Done;
}

q7x_work_param_t reportedRecord(q7x_t *camera)
{
    q7x_work_param_t record{};
    q7x_get_work_param(&record, camera);
    return record;
}

QJsonArray countsJson(const CameraCounts::Counts &counts)
{
    QJsonArray array;
    for (quint16 count : counts.photos)
        array.append(count);
    return array;
}

QString countsText(const CameraCounts::Counts &counts)
{
    QStringList numbers;
    for (quint16 count : counts.photos)
        numbers << QString::number(count);
    return numbers.join(QLatin1Char(' '));
}

int statusCommand(const CliArgs &args)
{
    bool ok = true;
    const double seconds = args.value(QStringLiteral("seconds"), QStringLiteral("5")).toDouble(&ok);
    if (!ok || seconds <= 0)
        return fail(QStringLiteral("--seconds: '%1' is no number of seconds")
                        .arg(args.value(QStringLiteral("seconds"))),
                    CliOutput::Usage);

    QJsonObject document;
    {
        QElapsedTimer clock;
        clock.start();
        CameraSession session;
        if (const int status = connectForStatus(session, seconds, true))
            return status;
        q7x_t *camera = session.camera();
        /* The release date follows the identity in a reply of its own: asked again while it
         * is missing, within what is left of the time. */
        bool interrupted = false;
        QElapsedTimer asked;
        waitUntil(
            [&] {
                if (!CameraFields::text(camera->release_date).isEmpty())
                    return true;
                if (!asked.isValid() || asked.elapsed() >= 500) {
                    q7x_get_builddate(camera);
                    asked.start();
                }
                return false;
            },
            std::max<qint64>(1000, static_cast<qint64>(seconds * 1000) - clock.elapsed()),
            &interrupted);

        const int major = load(camera->version_major);
        const int minor = load(camera->version_minor);
        const int mode = q7x_get_mode(camera);
        const q7x_work_param_t record = reportedRecord(camera);
        const StatusDisplay::Strategy strategy =
            StatusDisplay::strategy(mode, q7x_get_fixtime(camera), record.distance_interval);
        const int mask = load(camera->fault_mask);
        QJsonArray faulty;
        for (int number : CameraCounts::faultyCameras(major, minor, mask))
            faulty.append(number);
        const CameraCounts::Counts counts = CameraCounts::read(camera);
        document = {
            {QStringLiteral("serial"), session.serial()},
            {QStringLiteral("firmware"), QStringLiteral("%1.%2").arg(major).arg(minor)},
            {QStringLiteral("hardware"), QStringLiteral("V%1.0").arg(load(camera->model_flag))},
            {QStringLiteral("release_date"), CameraFields::text(camera->release_date)},
            {QStringLiteral("pos_record_size"), session.recordSize()},
            {QStringLiteral("mode"), mode},
            {QStringLiteral("strategy"), strategy.caption + strategy.value},
            {QStringLiteral("fault_mask"), mask},
            {QStringLiteral("faulty_cameras"), faulty},
            {QStringLiteral("self_check"), load(camera->self_check)},
            {QStringLiteral("gps_fix"), (load(camera->flags) & Q7X_FLAG_GPS_FIX) != 0},
            {QStringLiteral("satellites"), static_cast<int>(load(camera->satellites))},
            {QStringLiteral("total_exposures"), static_cast<qint64>(counts.total)},
            {QStringLiteral("counts"), countsJson(counts)},
            {QStringLiteral("record_hex"), StrategyRecords::hex(record)},
        };
    }
    if (args.has(QStringLiteral("json"))) {
        CliOutput::json(document);
        return CliOutput::Done;
    }
    /* In the order of the panel's reading, not the JSON object's sorted keys. */
    static const char *const keys[] = {"serial",          "firmware",   "hardware",  "release_date",
                                       "pos_record_size", "mode",       "strategy",  "fault_mask",
                                       "faulty_cameras",  "self_check", "gps_fix",   "satellites",
                                       "total_exposures", "counts",     "record_hex"};
    for (const char *key : keys) {
        const QJsonValue field = document.value(QLatin1String(key));
        QStringList items;
        for (const QJsonValue &item : field.isArray() ? field.toArray() : QJsonArray{field})
            items << item.toVariant().toString();
        CliOutput::line(
            QStringLiteral("%1: %2").arg(QLatin1String(key), items.join(QLatin1Char(' '))));
    }
    return CliOutput::Done;
}

/* What the command line gives a strategy page. */
struct StrategyInput {
    QString kind;
    QString value; /* the second word: METRES, SECONDS, high|low, rising|falling */
    StrategyRecords::Activation activation;
    QString pulse, period, duration;
};

/* The option or word a refused input came from, for the English line. */
QString inputName(Field field)
{
    switch (field) {
    case Field::LandingGear:
        return QStringLiteral("--gear");
    case Field::Distance:
        return QStringLiteral("METRES");
    case Field::Interval:
        return QStringLiteral("SECONDS");
    case Field::PowerOnDelay:
        return QStringLiteral("--power-delay");
    case Field::ManualDelay:
        return QStringLiteral("--manual-delay");
    case Field::Height:
        return QStringLiteral("--height");
    case Field::Duration:
        return QStringLiteral("--duration");
    case Field::Pulse:
        return QStringLiteral("--pulse");
    case Field::Period:
        return QStringLiteral("--period");
    case Field::None:
        break;
    }
    return QStringLiteral("strategy");
}

Outcome buildStrategy(const StrategyInput &in, const q7x_work_param_t &reported, bool gear)
{
    StrategyRecords::Activation activation = in.activation;
    activation.landingGear = gear;
    if (in.kind == QLatin1String("distance"))
        return StrategyRecords::distance(reported, in.value, activation);
    if (in.kind == QLatin1String("timed"))
        return StrategyRecords::timed(reported, in.value, activation);
    if (in.kind == QLatin1String("pwm"))
        return StrategyRecords::pwm(reported, in.pulse, in.period, in.duration);
    if (in.kind == QLatin1String("io"))
        return StrategyRecords::io(reported, in.value == QLatin1String("high"), in.duration);
    return StrategyRecords::edge(reported, in.value == QLatin1String("rising"));
}

/* The words and options of a strategy form, checked against the form; false with `error`. */
bool readStrategy(const CliArgs &args, StrategyInput *in, QString *error)
{
    const QStringList words = args.positionals();
    if (words.isEmpty()) {
        *error = QStringLiteral("strategy needs a KIND: distance, timed, pwm, io or edge");
        return false;
    }
    in->kind = words.first();
    struct Form {
        const char *kind;
        int words;
        QStringList choices; /* the second word's, when it is a choice */
        QStringList options;
    };
    const QStringList activationOptions = {
        QStringLiteral("gear"), QStringLiteral("level"), QStringLiteral("power-delay"),
        QStringLiteral("manual-delay"), QStringLiteral("height")};
    const Form forms[] = {
        {"distance", 2, {}, activationOptions},
        {"timed", 2, {}, activationOptions},
        {"pwm",
         1,
         {},
         {QStringLiteral("pulse"), QStringLiteral("period"), QStringLiteral("duration")}},
        {"io", 2, {QStringLiteral("high"), QStringLiteral("low")}, {QStringLiteral("duration")}},
        {"edge", 2, {QStringLiteral("rising"), QStringLiteral("falling")}, {}},
    };
    const Form *form = nullptr;
    for (const Form &candidate : forms)
        if (in->kind == QLatin1String(candidate.kind))
            form = &candidate;
    if (!form) {
        *error = QStringLiteral("unknown strategy kind '%1' (distance, timed, pwm, io or edge)")
                     .arg(in->kind);
        return false;
    }
    if (words.size() != form->words) {
        *error = words.size() < form->words
                     ? QStringLiteral("strategy %1 needs a value (see --help)").arg(in->kind)
                     : QStringLiteral("unexpected argument '%1'").arg(words.at(form->words));
        return false;
    }
    if (form->words == 2) {
        in->value = words.at(1);
        if (!form->choices.isEmpty() && !form->choices.contains(in->value)) {
            *error = QStringLiteral("strategy %1: '%2' is not %3")
                         .arg(in->kind, in->value, form->choices.join(QStringLiteral(" or ")));
            return false;
        }
    }
    const QStringList allOptions =
        activationOptions +
        QStringList{QStringLiteral("pulse"), QStringLiteral("period"), QStringLiteral("duration")};
    for (const QString &option : allOptions)
        if (args.has(option) && !form->options.contains(option)) {
            *error = QStringLiteral("--%1 does not apply to strategy %2").arg(option, in->kind);
            return false;
        }

    /* The activation: one choice at most, the landing gear by default. */
    int given = 0;
    for (int index = 0; index < StrategyRecords::activationCount; ++index)
        if (args.has(activationOptions.at(index))) {
            ++given;
            /* The options' order above is the combo box's order. */
            in->activation.index = index;
        }
    if (given > 1) {
        *error = QStringLiteral("give one activation only");
        return false;
    }
    const QString level = args.value(QStringLiteral("level"));
    if (args.has(QStringLiteral("level")) && level != QLatin1String("high") &&
        level != QLatin1String("low")) {
        *error = QStringLiteral("--level: '%1' is not high or low").arg(level);
        return false;
    }
    in->activation.levelHigh = level != QLatin1String("low");
    in->activation.powerOnDelay = args.value(QStringLiteral("power-delay"));
    in->activation.manualDelay = args.value(QStringLiteral("manual-delay"));
    in->activation.height = args.value(QStringLiteral("height"));
    in->pulse = args.value(QStringLiteral("pulse"));
    in->period = args.value(QStringLiteral("period"));
    in->duration = args.value(QStringLiteral("duration"));
    return true;
}

int strategyCommand(const CliArgs &args)
{
    StrategyInput input;
    QString error;
    if (!readStrategy(args, &input, &error))
        return fail(error, CliOutput::Usage);
    /* The checks depend on the texts only (the landing gear aside): refuse before connecting. */
    const Outcome dry = buildStrategy(input, q7x_work_param_t{}, true);
    if (!dry.accepted())
        return fail(QStringLiteral("%1: %2").arg(inputName(dry.field), dry.reason),
                    CliOutput::Usage);

    Outcome outcome;
    QString reported;
    bool matches = false;
    bool answered = false;
    {
        CameraSession session;
        if (const int status = connectForStatus(session, 10, false))
            return status;
        q7x_t *camera = session.camera();
        outcome = buildStrategy(input, reportedRecord(camera), load(camera->option_word) != 0);
        if (!outcome.accepted())
            return fail(QStringLiteral("%1: %2").arg(inputName(outcome.field), outcome.reason),
                        outcome.field == Field::LandingGear ? CliOutput::Failed : CliOutput::Usage);
        if (!args.has(QStringLiteral("yes")) &&
            !CliOutput::confirm(QStringLiteral("Switch the camera's work mode to this strategy?")))
            return fail(QStringLiteral("nothing sent"));
        const uint32_t sentAt = q7x_get_frame_count(camera, 'A');
        if (q7x_set_work_param(camera, &outcome.record) < 0)
            return fail(QStringLiteral("the record could not be sent to the camera"));
        /* Read back from a configuration frame that came after the record went out. */
        bool interrupted = false;
        matches = waitUntil(
            [&] {
                const q7x_work_param_t back = reportedRecord(camera);
                return q7x_get_frame_count(camera, 'A') > sentAt &&
                       std::memcmp(&back, &outcome.record, sizeof back) == 0;
            },
            10000, &interrupted);
        if (interrupted)
            return CliOutput::Interrupted;
        answered = q7x_get_frame_count(camera, 'A') > sentAt;
        reported = StrategyRecords::hex(reportedRecord(camera));
    }
    const QString sent = StrategyRecords::hex(outcome.record);
    if (args.has(QStringLiteral("json")))
        CliOutput::json({{QStringLiteral("kind"), input.kind},
                         {QStringLiteral("record_hex"), sent},
                         {QStringLiteral("reported_hex"), reported},
                         {QStringLiteral("matches"), matches}});
    else
        CliOutput::line(QStringLiteral("sent %1 strategy %2").arg(input.kind, sent));
    if (!answered)
        return fail(QStringLiteral("the camera reported nothing within 10 s of the record"));
    if (!matches)
        return fail(QStringLiteral("the camera reports %1, not the record sent").arg(reported));
    if (!args.has(QStringLiteral("json")))
        CliOutput::line(QStringLiteral("the camera reports it back"));
    return CliOutput::Done;
}

QJsonObject countsObject(const CameraCounts::Counts &counts)
{
    return {{QStringLiteral("total_exposures"), static_cast<qint64>(counts.total)},
            {QStringLiteral("counts"), countsJson(counts)}};
}

int shutterCommand(const CliArgs &args)
{
    CameraCounts::Counts before;
    CameraCounts::Counts after;
    bool raised = false;
    {
        CameraSession session;
        /* The identity tells the library whether this camera takes test exposures outside
         * debug mode. */
        if (const int status = connectForStatus(session, 10, true))
            return status;
        q7x_t *camera = session.camera();
        before = CameraCounts::read(camera);
        if (q7x_shutter(camera) != 0)
            return fail(QStringLiteral("the camera refused the test exposure: a Q7X camera "
                                       "takes test exposures only in debug mode (mode %1)")
                            .arg(q7x_get_mode(camera)));
        bool interrupted = false;
        raised = waitUntil([&] { return CameraCounts::read(camera).total != before.total; }, 10000,
                           &interrupted);
        if (interrupted)
            return CliOutput::Interrupted;
        after = CameraCounts::read(camera);
    }
    if (args.has(QStringLiteral("json")))
        CliOutput::json({{QStringLiteral("before"), countsObject(before)},
                         {QStringLiteral("after"), countsObject(after)},
                         {QStringLiteral("exposed"), raised}});
    else
        CliOutput::line(QStringLiteral("total exposures %1 -> %2, counts %3 -> %4")
                            .arg(before.total)
                            .arg(after.total)
                            .arg(countsText(before), countsText(after)));
    if (!raised)
        return fail(QStringLiteral("the camera reported no new exposure within 10 s"));
    return CliOutput::Done;
}

const OptionSpec jsonOption{QStringLiteral("json"), false};

} // namespace

int runStatus(const QStringList &words)
{
    return runCommand(words, {jsonOption, {QStringLiteral("seconds"), true}}, statusUsage, false,
                      statusCommand);
}

int runStrategy(const QStringList &words)
{
    return runCommand(words,
                      {jsonOption,
                       {QStringLiteral("yes"), false},
                       {QStringLiteral("gear"), false},
                       {QStringLiteral("level"), true},
                       {QStringLiteral("power-delay"), true},
                       {QStringLiteral("manual-delay"), true},
                       {QStringLiteral("height"), true},
                       {QStringLiteral("pulse"), true},
                       {QStringLiteral("period"), true},
                       {QStringLiteral("duration"), true}},
                      strategyUsage, true, strategyCommand);
}

int runShutter(const QStringList &words)
{
    return runCommand(words, {jsonOption}, shutterUsage, false, shutterCommand);
}
