/*
 * GNU-style options of one orvex-cli command: "--name value", "--name=value",
 * flags, repeated options, "--" before positionals. Unknown options and
 * missing values are usage errors (exit 2).
 */
#ifndef CLI_CLIARGS_H
#define CLI_CLIARGS_H

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

struct OptionSpec {
    QString name;    /* without the dashes */
    bool takesValue; /* "--name value" rather than a flag */
};

class CliArgs {
public:
    /* Parse `args` (after the command words); false with `error` on a usage error. */
    bool parse(const QStringList &args, const QList<OptionSpec> &options, QString *error);

    bool has(const QString &name) const { return m_values.contains(name); }
    /* The last value given for the option, or `fallback`. */
    QString value(const QString &name, const QString &fallback = QString()) const;
    /* Every value given for a repeated option, in order. */
    QStringList values(const QString &name) const { return m_values.value(name); }
    const QStringList &positionals() const { return m_positionals; }
    bool help() const { return m_help; }

private:
    QHash<QString, QStringList> m_values;
    QStringList m_positionals;
    bool m_help = false;
};

/*
 * How every command starts: parse `words` with `options` (a usage error exits
 * 2), print `usage` for --help, refuse positional words unless the command
 * takes some (`positionals`; it checks them itself then), and run `command`.
 */
int runCommand(const QStringList &words, const QList<OptionSpec> &options, const char *usage,
               bool positionals, int (*command)(const CliArgs &));

#endif
