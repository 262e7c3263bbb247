#pragma once

#include <QString>
#include <QStringList>

// One sub-command of parcelwick-cli. Each command lives in its own file and registers
// itself with a static CliCommandRegistration, so the dispatcher needs no list.
struct CliCommand {
    QString name;
    QString summary;  // one line for the overview
    QString usage;    // full text of "parcelwick-cli NAME --help"
    // Runs with the arguments after the command's name; returns the exit status.
    int (*run)(const QStringList& args);
    // True when run() answers --help and --version itself (ParseCommandArguments); for
    // the other commands the dispatcher answers them.
    bool parsesOwnOptions = false;
};

void RegisterCliCommand(const CliCommand& command);

struct CliCommandRegistration {
    explicit CliCommandRegistration(const CliCommand& command) { RegisterCliCommand(command); }
};

// Output helpers: UTF-8 lines on stdout and stderr.
void CliOut(const QString& line);
void CliErr(const QString& line);
