#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

// The exit statuses of every command, as the overview and each --help tell them.
enum CliStatus : int {
    CliSuccess = 0,
    CliFailure = 1,  // the work failed: a file could not be read, a manifest was refused, ...
    CliUsageError = 2,  // an unknown option, a missing value or a wrong number of arguments
};

// The help lines of the options every command has; each usage text ends with them.
#define PW_CLI_COMMON_OPTIONS_HELP                                                                      \
    "  -h, --help         show this help\n"                                                             \
    "      --version      show the version of parcelwick-cli\n"
#define PW_CLI_QUIET_OPTION_HELP "  -q, --quiet        no progress line on the terminal\n"

// "parcelwick-cli VERSION", the answer of --version.
QString CliVersionText();

// How many arguments besides the options a command takes.
struct PositionalCount {
    int minimum;
    int maximum;  // -1: no limit
};

// Reads a command's arguments (those after its name) with the command's options, to
// which it adds --help, --version and, when `quiet` is given, --quiet. Returns nothing
// when the command is to run; otherwise the exit status, after printing the help
// (stdout), the version (stdout) or the error and the usage (stderr).
std::optional<int> ParseCommandArguments(QCommandLineParser& parser, const QString& command, const QString& usage,
                                         const QStringList& args, PositionalCount positionals,
                                         const QCommandLineOption* quiet = nullptr);

// Prints "parcelwick-cli COMMAND: text" and the usage on stderr; returns CliUsageError.
int CliUsageFailure(const QString& command, const QString& text, const QString& usage);

// A number option within its limits: true when it is so or not given (`value` then keeps
// its default); false after the usage failure is shown (the command exits CliUsageError).
bool ReadLimitedOption(const QCommandLineParser& parser, const QCommandLineOption& option, int minimum, int maximum,
                       int& value, const QString& command, const QString& usage);
