/* orvex-cli upgrade: the device page's firmware upgrade from a terminal. */
#include "CameraSession.h"
#include "CliArgs.h"
#include "CliOutput.h"
#include "Commands.h"
#include "pages/DeviceIdentity.h"
#include "pages/FirmwareUpgrade.h"

#include <QDir>

#include <cstdio>

namespace {

using CliOutput::fail;

const char upgradeUsage[] =
    "usage: orvex-cli upgrade FILE [--yes] [--timeout S]\n"
    "Send the firmware FILE to the camera's controller, as the device page's \"更新\" does,\n"
    "with progress on standard error. An encrypted file (it begins with \"OVRE\") is decrypted\n"
    "first into tempfile.bin in the data folder, which is removed afterwards; the question\n"
    "whether to decrypt is asked on the terminal unless --yes is given. A file that cannot be\n"
    "read or decrypted, or a refused question, sends nothing. An upgrade that shows no\n"
    "progress for --timeout seconds (default 30; longer when one percent of a large file\n"
    "takes longer at the link's pace) is stopped and fails. Exit 0 when the whole file was\n"
    "acknowledged and the upgrade closed, 1 when it failed or no camera answered, 2 bad\n"
    "usage, 130 interrupted.\n";

/* Lets go of the session's link from the library's one upgrader before the link goes. */
struct UpgraderDetach {
    ~UpgraderDetach() { rvupgrader_request(nullptr, RVUPGRADER_MSG_ID); }
};

int upgrade(const QString &file, bool yes, int stallSeconds)
{
    const FirmwareUpgrade::FileKind kind = FirmwareUpgrade::inspect(file);
    const bool encrypted = kind == FirmwareUpgrade::FileKind::Encrypted;
    if (encrypted && !yes &&
        !CliOutput::confirm(
            QStringLiteral("%1 is an encrypted firmware file. Decrypt it and upgrade?")
                .arg(QDir::toNativeSeparators(file))))
        return fail(QStringLiteral("%1 is encrypted and was not decrypted; nothing was sent")
                        .arg(QDir::toNativeSeparators(file)));
    FirmwareUpgrade::Firmware firmware = FirmwareUpgrade::prepare(file, encrypted);
    if (firmware.path.isEmpty())
        return fail(firmware.reason + QStringLiteral("; nothing was sent"));

    CameraSession session;
    QString error;
    if (!session.open(&error)) {
        FirmwareUpgrade::discard(firmware);
        return fail(error);
    }
    if (!session.waitForIdentity(10)) {
        FirmwareUpgrade::discard(firmware);
        return CliOutput::interrupted() ? CliOutput::Interrupted
                                        : fail(QStringLiteral("no camera answered"));
    }
    const DeviceIdentity::Identity identity = DeviceIdentity::read(session.camera());
    CliOutput::line(QStringLiteral("camera %1, firmware %2: sending %3 (%4 bytes)%5")
                        .arg(identity.serial, identity.version(), QDir::toNativeSeparators(file))
                        .arg(firmware.length)
                        .arg(firmware.decrypted ? QStringLiteral(", decrypted") : QString()));

    const UpgraderDetach detach;
    FirmwareUpgrade engine;
    ProgressReporter progress(QStringLiteral("upgrade"), QStringLiteral("bytes"));
    QObject::connect(&engine, &FirmwareUpgrade::progressChanged, [&](int percent) {
        progress.update(qint64(firmware.length) * percent / 100, firmware.length);
    });
    FirmwareUpgrade::Options options = FirmwareUpgrade::manualOptions();
    options.stallSeconds = stallSeconds;
    engine.start(session.camera()->link, nullptr, firmware, options);
    while (engine.isActive()) {
        if (!pauseBriefly()) {
            engine.cancel();
            progress.finish();
            return fail(QStringLiteral("interrupted; the camera's loader holds an incomplete "
                                       "image"),
                        CliOutput::Interrupted);
        }
    }
    progress.finish();
    if (engine.state() != FirmwareUpgrade::State::Finished)
        return fail(engine.reason());
    CliOutput::line(QStringLiteral("upgrade finished: %1 bytes acknowledged by the camera's loader")
                        .arg(firmware.length));
    return CliOutput::Done;
}

} // namespace

int runUpgrade(const QStringList &words)
{
    return runCommand(
        words, {{QStringLiteral("yes"), false}, {QStringLiteral("timeout"), true}}, upgradeUsage,
        true, [](const CliArgs &args) {
            if (args.positionals().size() != 1)
                return fail(
                    args.positionals().isEmpty()
                        ? QStringLiteral("upgrade needs a firmware FILE (see upgrade --help)")
                        : QStringLiteral("unexpected argument '%1'").arg(args.positionals().at(1)),
                    CliOutput::Usage);
            bool ok = true;
            const int timeout =
                args.value(QStringLiteral("timeout"), QStringLiteral("30")).toInt(&ok);
            if (!ok || timeout <= 0)
                return fail(QStringLiteral("--timeout: '%1' is no whole number of seconds")
                                .arg(args.value(QStringLiteral("timeout"))),
                            CliOutput::Usage);
            return upgrade(args.positionals().first(), args.has(QStringLiteral("yes")), timeout);
        });
}
