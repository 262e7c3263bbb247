#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// parcelwick-cli (or any program) run as a program, the way a script runs it.
struct CliRun {
    int status = -1;      // exit status; -1 when it crashed or did not finish in time
    QByteArray outBytes;  // standard output as written
    QString out;          // the same, as UTF-8 text
    QString err;          // standard error, as UTF-8 text
};

struct CliOptions {
    QString home;              // HOME for the run (the default save path lies under it); empty: inherited
    QString workingDirectory;  // empty: the test's own
    QStringList environment;   // further NAME=VALUE settings for the run
    int timeoutMs = 60000;
};

// Runs a program with the arguments. A run that does not finish in time is killed and
// reported as a test failure.
CliRun RunProgram(const QString& program, const QStringList& args, const CliOptions& options = {});

// Runs the parcelwick-cli built beside the tests with the arguments.
CliRun RunCli(const QStringList& args, const CliOptions& options = {});

// Runs the parcelwick-cli built beside the tests on a pseudo-terminal (script(1)), as a
// user at a terminal runs it: standard output and standard error both reach the
// terminal and come back together in `out`, with the terminal's "\r\n" line ends.
// `redirection` is shell text put after the command ("2>err.txt"); `columns`, when not 0,
// is the terminal's width (a terminal that was never given one reports 0).
CliRun RunCliOnTerminal(const QStringList& args, const CliOptions& options = {}, const QString& redirection = {},
                        int columns = 0);

// The text quoted for a POSIX shell, whatever it holds.
QString ShellQuoted(const QString& text);
