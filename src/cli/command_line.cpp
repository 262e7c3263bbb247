#include "cli/command_line.h"

#include "cli/cli_command.h"

QString CliVersionText() { return QStringLiteral("parcelwick-cli " PW_VERSION); }

int CliUsageFailure(const QString& command, const QString& text, const QString& usage) {
    CliErr("parcelwick-cli " + command + ": " + text);
    CliErr(usage);
    return CliUsageError;
}

std::optional<int> ParseCommandArguments(QCommandLineParser& parser, const QString& command, const QString& usage,
                                         const QStringList& args, PositionalCount positionals,
                                         const QCommandLineOption* quiet) {
    const QCommandLineOption help(QStringList{"h", "help"});
    const QCommandLineOption version("version");
    parser.addOptions({help, version});
    if (quiet)
        parser.addOption(*quiet);
    // "-abc" is three short options, as getopt reads it; "--name" is a long one.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    if (!parser.parse(QStringList{command} + args))
        return CliUsageFailure(command, parser.errorText(), usage);
    if (parser.isSet(help)) {
        CliOut(usage);
        return CliSuccess;
    }
    if (parser.isSet(version)) {
        CliOut(CliVersionText());
        return CliSuccess;
    }
    const auto count = parser.positionalArguments().size();
    if (count < positionals.minimum)
        return CliUsageFailure(command, "missing argument", usage);
    if (positionals.maximum >= 0 && count > positionals.maximum) {
        const QString extra = parser.positionalArguments().at(positionals.maximum);
        return CliUsageFailure(command, "unexpected argument \"" + extra + "\"", usage);
    }
    return std::nullopt;
}

bool ReadLimitedOption(const QCommandLineParser& parser, const QCommandLineOption& option, int minimum, int maximum,
                       int& value, const QString& command, const QString& usage) {
    if (!parser.isSet(option))
        return true;
    bool isNumber = false;
    const int given = parser.value(option).toInt(&isNumber);
    if (!isNumber || given < minimum || given > maximum) {
        CliUsageFailure(command,
                        QStringLiteral("--%1 takes a number from %2 to %3").arg(option.names().first()).arg(minimum).arg(maximum),
                        usage);
        return false;
    }
    value = given;
    return true;
}
