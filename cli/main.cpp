/*
 * orvex-cli: the command-line face of Orvex. It runs the desktop program's
 * engines without a display: global options, then a command and its own
 * options (see --help).
 */
#include "CliArgs.h"
#include "CliOutput.h"
#include "Commands.h"
#include "platform/AppSettings.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

const char usage[] =
    "usage: orvex-cli [--camera-address A] [--camera-port P] [--data-dir DIR] COMMAND ...\n"
    "\n"
    "Global options:\n"
    "  --camera-address A  the camera's IPv4 address (default: Orvex's setting camera/address)\n"
    "  --camera-port P     the camera's UDP port (default: Orvex's setting camera/port)\n"
    "  --data-dir DIR      where task files and Taskconfig.xml live (default: $ORVEX_DATA_DIR,\n"
    "                      else the per-user data folder)\n"
    "  --version           the program's version\n"
    "  --help              this text; COMMAND --help tells about a command\n"
    "\n"
    "Commands:\n";

void printUsage(FILE *stream)
{
    std::fputs(usage, stream);
    for (const Command &command : commands)
        std::fprintf(stream, "  %-12s %s\n", command.name, command.summary);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvex"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvex"));
    CliOutput::installInterruptHandlers();

    QStringList args = app.arguments().mid(1);
    QString address;
    unsigned port = 0;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--help")) {
            printUsage(stdout);
            return CliOutput::Done;
        }
        if (option == QLatin1String("--version")) {
            std::printf("orvex-cli %s\n", ORVEX_VERSION);
            return CliOutput::Done;
        }
        const bool known = option == QLatin1String("--camera-address") ||
                           option == QLatin1String("--camera-port") ||
                           option == QLatin1String("--data-dir");
        if (!known)
            return CliOutput::fail(QStringLiteral("unknown option %1 (see --help)").arg(option),
                                   CliOutput::Usage);
        if (args.isEmpty())
            return CliOutput::fail(QStringLiteral("option %1 needs a value").arg(option),
                                   CliOutput::Usage);
        const QString value = args.takeFirst();
        if (option == QLatin1String("--camera-address")) {
            address = value;
        } else if (option == QLatin1String("--camera-port")) {
            bool ok = false;
            port = value.toUInt(&ok);
            if (!ok || port == 0 || port > 65535)
                return CliOutput::fail(QStringLiteral("--camera-port: '%1' is no port").arg(value),
                                       CliOutput::Usage);
        } else {
            qputenv("ORVEX_DATA_DIR", value.toLocal8Bit());
        }
    }
    QString error;
    if (!AppSettings::setCameraOverride(address, port, error))
        return CliOutput::fail(error, CliOutput::Usage);
    if (args.isEmpty()) {
        printUsage(stderr);
        return CliOutput::Usage;
    }
    const QString name = args.takeFirst();
    for (const Command &command : commands)
        if (name == QLatin1String(command.name)) {
            const int status = command.run(args);
            CliOutput::flushJson();
            return status;
        }
    return CliOutput::fail(QStringLiteral("unknown command '%1' (see --help)").arg(name),
                           CliOutput::Usage);
}
