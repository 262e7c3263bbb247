#include "support/cli_runner.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

CliRun RunProgram(const QString& program, const QStringList& args, const CliOptions& options) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!options.home.isEmpty())
        env.insert("HOME", options.home);
    for (const QString& setting : options.environment)
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    process.setProcessEnvironment(env);
    if (!options.workingDirectory.isEmpty())
        process.setWorkingDirectory(options.workingDirectory);
    process.start(program, args);
    CliRun run;
    if (!process.waitForFinished(options.timeoutMs)) {
        ADD_FAILURE() << program.toStdString() << ' ' << args.join(' ').toStdString() << " did not finish";
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        run.status = process.exitCode();
    run.outBytes = process.readAllStandardOutput();
    run.out = QString::fromUtf8(run.outBytes);
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

CliRun RunCli(const QStringList& args, const CliOptions& options) {
    return RunProgram(QStringLiteral(PW_BIN_DIR "/parcelwick-cli"), args, options);
}

QString ShellQuoted(const QString& text) { return '\'' + QString(text).replace('\'', "'\\''") + '\''; }

CliRun RunCliOnTerminal(const QStringList& args, const CliOptions& options, const QString& redirection,
                        int columns) {
    QString command = columns > 0 ? QString("stty cols %1; ").arg(columns) : QString();
    command += ShellQuoted(PW_BIN_DIR "/parcelwick-cli");
    for (const QString& arg : args)
        command += ' ' + ShellQuoted(arg);
    if (!redirection.isEmpty())
        command += ' ' + redirection;
    // -e: script exits with the command's status; /dev/null: no typescript file.
    return RunProgram("script", {"-qec", command, "/dev/null"}, options);
}
