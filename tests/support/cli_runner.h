#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// parcelwick-cli run as a program, the way a script runs it.
struct CliRun {
    int status = -1;      // exit status; -1 when it crashed or did not finish in time
    QByteArray outBytes;  // standard output as written
    QString out;          // the same, as UTF-8 text
    QString err;          // standard error, as UTF-8 text
};

struct CliOptions {
    QString home;              // HOME for the run (the default save path lies under it); empty: inherited
    QString workingDirectory;  // empty: the test's own
    QStringList environment;   // "NAME=value" entries added to the inherited environment
    int timeoutMs = 60000;
};

// Runs the parcelwick-cli built beside the tests with the arguments. A run that does not
// finish in time is killed and reported as a test failure.
CliRun RunCli(const QStringList& args, const CliOptions& options = {});
