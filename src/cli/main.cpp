// parcelwick-cli: the program's core without a window, for scripts and servers.
#include "cli/cli_command.h"
#include "cli/command_line.h"

#include <QCoreApplication>
#include <QMap>
#include <cstdio>
#include <new>

namespace {

QMap<QString, CliCommand>& registry() {
    static QMap<QString, CliCommand> commands;
    return commands;
}

void printOverview(FILE* to) {
    QString text = "usage: parcelwick-cli COMMAND [OPTIONS] [ARGS...]\n\ncommands:\n";
    for (const CliCommand& c : registry())
        text += QString("  %1  %2\n").arg(c.name, -8).arg(c.summary);
    text += "\n"
            "options:\n"
            "  -h, --help     show this overview\n"
            "      --version  show the version\n"
            "\n"
            "\"parcelwick-cli COMMAND --help\" describes one command.\n"
            "\n"
            "exit status: 0 success; 1 the work failed (a file could not be read, a manifest was\n"
            "refused, a transfer failed); 2 an unknown command or option, a missing value or a\n"
            "wrong number of arguments.\n";
    std::fputs(text.toUtf8().constData(), to);
}

// Commands that read their arguments by hand get --help and --version here, from any
// place before a "--".
std::optional<int> answerForCommand(const CliCommand& command, const QStringList& args) {
    const QStringList options = args.mid(0, args.indexOf("--") < 0 ? args.size() : args.indexOf("--"));
    if (options.contains("--help") || options.contains("-h")) {
        CliOut(command.usage);
        return CliSuccess;
    }
    if (options.contains("--version")) {
        CliOut(CliVersionText());
        return CliSuccess;
    }
    return std::nullopt;
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
    QCoreApplication::setApplicationVersion(PW_VERSION);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        printOverview(stderr);
        return CliUsageError;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printOverview(stdout);
        return CliSuccess;
    }
    if (args[0] == "--version") {
        CliOut(CliVersionText());
        return CliSuccess;
    }
    const auto found = registry().constFind(args[0]);
    if (found == registry().constEnd()) {
        CliErr("parcelwick-cli: unknown command \"" + args[0] + "\"");
        printOverview(stderr);
        return CliUsageError;
    }
    const QStringList rest = args.mid(1);
    if (!found->parsesOwnOptions) {
        if (const auto exit = answerForCommand(*found, rest))
            return *exit;
    }
    try {
        return found->run(rest);
    } catch (const std::bad_alloc&) {
        // Whatever a command holds (a manifest's rows, a table) ends here, not in a crash.
        CliErr("parcelwick-cli " + args[0] + ": not enough memory");
        return CliFailure;
    }
}
