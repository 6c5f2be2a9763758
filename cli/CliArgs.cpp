#include "CliArgs.h"

#include "CliOutput.h"

#include <cstdio>

bool CliArgs::parse(const QStringList &args, const QList<OptionSpec> &options, QString *error)
{
    auto find = [&options](const QString &name) -> const OptionSpec * {
        for (const OptionSpec &option : options)
            if (option.name == name)
                return &option;
        return nullptr;
    };
    bool onlyPositionals = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (onlyPositionals || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            m_positionals << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            onlyPositionals = true;
            continue;
        }
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            m_help = true;
            continue;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("unknown option %1").arg(arg);
            return false;
        }
        const int equals = arg.indexOf(QLatin1Char('='));
        const QString name = arg.mid(2, equals < 0 ? -1 : equals - 2);
        const OptionSpec *option = find(name);
        if (!option) {
            *error = QStringLiteral("unknown option --%1").arg(name);
            return false;
        }
        if (!option->takesValue) {
            if (equals >= 0) {
                *error = QStringLiteral("option --%1 takes no value").arg(name);
                return false;
            }
            m_values[name] << QString();
            continue;
        }
        if (equals >= 0) {
            m_values[name] << arg.mid(equals + 1);
        } else if (i + 1 < args.size()) {
            m_values[name] << args[++i];
        } else {
            *error = QStringLiteral("option --%1 needs a value").arg(name);
            return false;
        }
    }
    return true;
}

QString CliArgs::value(const QString &name, const QString &fallback) const
{
    const QStringList given = m_values.value(name);
    return given.isEmpty() ? fallback : given.last();
}

int runCommand(const QStringList &words, const QList<OptionSpec> &options, const char *usage,
               bool positionals, int (*command)(const CliArgs &))
{
    CliArgs args;
    QString error;
    if (!args.parse(words, options, &error))
        return CliOutput::fail(error, CliOutput::Usage);
    if (args.help()) {
        std::fputs(usage, stdout);
        return CliOutput::Done;
    }
    if (!positionals && !args.positionals().isEmpty())
        return CliOutput::fail(
            QStringLiteral("unexpected argument '%1'").arg(args.positionals().first()),
            CliOutput::Usage);
    return command(args);
}
