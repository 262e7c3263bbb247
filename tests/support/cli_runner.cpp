#include "support/cli_runner.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

CliRun RunCli(const QStringList& args, const CliOptions& options) {
    QProcess process;
    if (!options.home.isEmpty() || !options.environment.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!options.home.isEmpty())
            env.insert("HOME", options.home);
        for (const QString& entry : options.environment)
            env.insert(entry.section('=', 0, 0), entry.section('=', 1));
        process.setProcessEnvironment(env);
    }
    if (!options.workingDirectory.isEmpty())
        process.setWorkingDirectory(options.workingDirectory);
    process.start(QStringLiteral(PW_BIN_DIR "/parcelwick-cli"), args);
    CliRun run;
    if (!process.waitForFinished(options.timeoutMs)) {
        ADD_FAILURE() << "parcelwick-cli " << args.join(' ').toStdString() << " did not finish";
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
