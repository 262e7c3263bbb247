// parcelwick-cli: the program's core without a window, for scripts and servers.
#include "cli/cli_command.h"

#include <QCoreApplication>
#include <QMap>
#include <cstdio>

namespace {

QMap<QString, CliCommand>& registry() {
    static QMap<QString, CliCommand> commands;
    return commands;
}

void printOverview(FILE* to) {
    QString text = "usage: parcelwick-cli COMMAND [ARGS...]\n\ncommands:\n";
    for (const CliCommand& c : registry())
        text += QString("  %1  %2\n").arg(c.name, -8).arg(c.summary);
    text += "\n\"parcelwick-cli COMMAND --help\" describes one command.\n";
    std::fputs(text.toUtf8().constData(), to);
}

}  // namespace

void RegisterCliCommand(const CliCommand& command) { registry().insert(command.name, command); }

void CliOut(const QString& line) {
    std::fputs((line + '\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void CliErr(const QString& line) {
    std::fputs((line + '\n').toUtf8().constData(), stderr);
    std::fflush(stderr);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("parcelwick-cli");
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        printOverview(stderr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printOverview(stdout);
        return 0;
    }
    const auto found = registry().constFind(args[0]);
    if (found == registry().constEnd()) {
        CliErr("parcelwick-cli: unknown command \"" + args[0] + "\"");
        printOverview(stderr);
        return 2;
    }
    const QStringList rest = args.mid(1);
    if (rest.contains("--help") || rest.contains("-h")) {
        CliOut(found->usage);
        return 0;
    }
    return found->run(rest);
}
