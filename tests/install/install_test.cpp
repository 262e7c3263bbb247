// An install of the build, checked as a user and a distribution would: every file in
// its place, the programs running from there, the desktop files passing their
// validators, the .pwq file type known to the desktop, the shell completion and the man
// pages agreeing with the program, and the window showing the desktop's icon.
#include "app/tform1.h"
#include "install/install_tree.h"
#include "support/scripted_prompt.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QSet>

namespace {

const QByteArray kManifest = "www.parcelwick.example\r\n1\r\nmovie.avi\r\nCBF43926\r\n1\r\n"
                             "http://w.example/movie1.bin\r\n9\r\nCBF43926\r\n\r\n\r\n";

TEST_F(InstallTest, EveryFileInItsPlaceAndTheProgramsRunFromThere) {
    for (const QString& file : InstalledFiles)
        EXPECT_TRUE(QFileInfo(installed(file)).isFile()) << file.toStdString();
    for (const char* program : {"bin/parcelwick", "bin/parcelwick-cli"})
        EXPECT_TRUE(QFileInfo(installed(program)).isExecutable()) << program;
    for (const int size : {48, 256}) {
        const QImage icon(installed(QString("share/icons/hicolor/%1x%1/apps/parcelwick.png").arg(size)));
        EXPECT_EQ(icon.size(), QSize(size, size));
    }

    WriteFile(temp("check.txt"), "123456789");
    CliRun run = runInstalled(installed("bin/parcelwick-cli"), {"crc", temp("check.txt")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "CBF43926  " + temp("check.txt") + "\n");
    run = runInstalled(installed("bin/parcelwick-cli"), {"--version"});
    EXPECT_EQ(run.out, "parcelwick-cli " PW_VERSION "\n");
    // Without a display: the version and help are answered before the window system.
    run = runInstalled(installed("bin/parcelwick"), {"--version"}, {"QT_QPA_PLATFORM=xcb", "DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "parcelwick " PW_VERSION "\n");

    // The window names the help page and start page it found: its install's data folder,
    // wherever the install was moved to, or the folder beside it in the build.
    ASSERT_TRUE(QDir().mkpath(temp("elsewhere/opt")));
    ASSERT_TRUE(QDir().rename(installed(), temp("elsewhere/opt/parcelwick")));
    const struct {
        const char* name;
        QString program;
        QString dataFolder;
    } copies[] = {
        {"moved install", temp("elsewhere/opt/parcelwick/bin/parcelwick"), temp("elsewhere/opt/parcelwick/share/parcelwick/")},
        {"build folder", PW_BIN_DIR "/parcelwick", PW_BIN_DIR "/"},
    };
    for (const auto& copy : copies) {
        run = RunProgram(copy.program, {"--help"}, {.environment = {"DISPLAY=", "QT_QPA_PLATFORM=xcb"}});
        EXPECT_EQ(run.status, 0) << copy.name << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("\n  help page   " + copy.dataFolder + "parcelwick-help.html\n")) << copy.name << "\n"
                                                                                                    << run.out.toStdString();
        EXPECT_TRUE(run.out.contains("\n  start page  " + copy.dataFolder + "parcelwick-start.html\n")) << copy.name;
        EXPECT_TRUE(QFileInfo(copy.dataFolder + "parcelwick-help.html").isFile()) << copy.name;
    }
}

TEST_F(InstallTest, DesktopFilesPassTheirValidators) {
    const struct {
        const char* tool;
        QStringList args;
    } checks[] = {
        {"desktop-file-validate", {installed("share/applications/parcelwick.desktop")}},
        {"xmllint", {"--noout", installed("share/mime/packages/parcelwick.xml")}},
        {"appstreamcli", {"validate", "--no-net", installed("share/metainfo/example.parcelwick.parcelwick.metainfo.xml")}},
        {"groff", {"-man", "-ww", "-z", installed("share/man/man1/parcelwick.1")}},
        {"groff", {"-man", "-ww", "-z", installed("share/man/man1/parcelwick-cli.1")}},
    };
    for (const auto& check : checks) {
        const CliRun run = RunProgram(check.tool, check.args);
        const QString said = run.out + run.err;
        EXPECT_EQ(run.status, 0) << check.tool << "\n" << said.toStdString();
        // Hints and remarks ("I:") are allowed; warnings and errors are not.
        EXPECT_FALSE(said.contains(QRegularExpression("warning|error|^[WE]: ", QRegularExpression::MultilineOption |
                                                                                   QRegularExpression::CaseInsensitiveOption)))
            << check.tool << "\n" << said.toStdString();
    }
}

// The desktop's own tools tell a manifest by its name in any case, and one without its
// extension by its first line; the desktop entry is offered to open it.
TEST_F(InstallTest, ManifestFileTypeIsKnownToTheDesktop) {
    CliRun run = RunProgram("update-mime-database", {installed("share/mime")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QString manifestType = "application/x-parcelwick-manifest";
    const struct {
        const char* name;
        QByteArray content;
        QString type;
    } files[] = {
        {"x.pwq", kManifest, manifestType},
        {"X.PWQ", kManifest, manifestType},
        {"Movie.Pwq", "notes\r\n", manifestType},
        {"manifest-crlf", kManifest, manifestType},
        {"manifest-lf", QByteArray(kManifest).replace("\r\n", "\n"), manifestType},
        {"manifest-cr", QByteArray(kManifest).replace("\r\n", "\r"), manifestType},
        {"not-quite", "www.parcelwick.examples\r\n1\r\n", "text/plain"},
        {"later-line", "hello\r\nwww.parcelwick.example\r\n", "text/plain"},
    };
    ASSERT_TRUE(QDir().mkpath(temp("files")));
    for (const auto& file : files) {
        const QString path = temp("files/") + file.name;
        WriteFile(path, file.content);
        run = runInstalled("gio", {"info", "--attributes=standard::content-type", path});
        EXPECT_TRUE(run.out.contains("standard::content-type: " + file.type + "\n"))
            << "gio " << file.name << "\n" << run.out.toStdString() << run.err.toStdString();
        run = runInstalled("xdg-mime", {"query", "filetype", path}, {"XDG_CURRENT_DESKTOP=GNOME"});
        EXPECT_EQ(run.out.trimmed(), file.type) << "xdg-mime " << file.name << run.err.toStdString();
    }
    // As the package's triggers do once it is installed.
    ASSERT_EQ(RunProgram("update-desktop-database", {installed("share/applications")}).status, 0);
    run = runInstalled("gio", {"mime", manifestType});
    EXPECT_TRUE(run.out.startsWith("Default application for “" + manifestType + "”: parcelwick.desktop\n"))
        << run.out.toStdString() << run.err.toStdString();
}

// What "parcelwick-cli --help" and "parcelwick-cli COMMAND --help" list: commands, and
// per command the options ("-q", "--save-path").
QMap<QString, QStringList> commandsAndOptions(const QString& cli) {
    QMap<QString, QStringList> found;
    const QString overview = RunProgram(cli, {"--help"}).out;
    const QString commandList = overview.section("commands:\n", 1).section("\n\n", 0, 0);
    static const QRegularExpression option(R"((?:^|[\s\[,])(--?[A-Za-z][A-Za-z0-9-]*))");
    for (const QString& line : commandList.split('\n', Qt::SkipEmptyParts)) {
        const QString command = line.trimmed().section(' ', 0, 0);
        QSet<QString> options;
        for (const auto& m : option.globalMatch(RunProgram(cli, {command, "--help"}).out))
            options.insert(m.captured(1));
        found[command] = options.values();
        found[command].sort();
    }
    return found;
}

TEST_F(InstallTest, ManPagesAndCompletionKnowEveryCommandAndOption) {
    const QMap<QString, QStringList> commands = commandsAndOptions(installed("bin/parcelwick-cli"));
    ASSERT_GE(commands.size(), 6) << commands.keys().join(' ').toStdString();
    // roff writes a hyphen that must stay one as "\-".
    const QString man = QString::fromUtf8(ReadFile(installed("share/man/man1/parcelwick-cli.1"))).replace("\\-", "-");
    for (auto it = commands.begin(); it != commands.end(); ++it) {
        EXPECT_TRUE(man.contains(QRegularExpression("^\\.BI? \"?" + it.key() + "[ \"]", QRegularExpression::MultilineOption)))
            << it.key().toStdString();
        for (const QString& option : it.value())
            EXPECT_TRUE(man.contains(option)) << it.key().toStdString() << " " << option.toStdString();
    }
    EXPECT_TRUE(man.contains(".SH EXIT STATUS"));

    // The completion, sourced into bash as bash-completion does, with the installed
    // program first on PATH; each case: the words typed so far, and what is offered.
    ASSERT_TRUE(QDir().mkpath(temp("work/sub dir")));
    WriteFile(temp("work/movie.avi"), "x");
    const struct {
        QStringList words;
        QStringList offered;
    } cases[] = {
        {{""}, QStringList(commands.keys()) << "--help" << "--version"},
        {{"s"}, {"send", "show", "split"}},
        {{"split", "--"}, commands["split"].filter(QRegularExpression("^--"))},
        {{"crc", "-"}, commands["crc"]},
        {{"split", "--save-path", ""}, {"sub dir"}},
        {{"pwq", "movie.avi", "-o", "m"}, {"movie.avi"}},
        {{"split", "--parts", ""}, {}},
        {{"pwq", "movie.avi", "--site", "h"}, {}},
        {{"crc", "mo"}, {"movie.avi"}},
    };
    const QString completion = installed("share/bash-completion/completions/parcelwick-cli");
    for (const auto& c : cases) {
        QString words = "parcelwick-cli";
        for (const QString& w : c.words)
            words += ' ' + ShellQuoted(w);
        const QString script = "source " + ShellQuoted(completion) + "\nCOMP_WORDS=(" + words +
                               ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n_parcelwick_cli\n"
                               "printf '%s\\n' \"${COMPREPLY[@]}\" | sort\n";
        CliOptions options{.workingDirectory = temp("work")};
        options.environment = {"PATH=" + installed("bin") + ":" + qEnvironmentVariable("PATH")};
        const CliRun run = RunProgram("bash", {"-c", script}, options);
        QStringList expected = c.offered;
        expected.sort();
        EXPECT_EQ(run.out.split('\n', Qt::SkipEmptyParts), expected)
            << c.words.join(' ').toStdString() << "\n" << run.err.toStdString();
    }
}

TEST_F(InstallTest, WindowShowsTheIconOfTheDesktopEntry) {
    const QString entry = QString::fromUtf8(ReadFile(installed("share/applications/parcelwick.desktop")));
    const QString iconName = entry.section("\nIcon=", 1).section('\n', 0, 0);
    ScriptedPrompt prompt;
    TForm1 form(prompt);
    for (const int size : {48, 256}) {
        QImage desktop(installed(QString("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(iconName)));
        ASSERT_FALSE(desktop.isNull()) << size;
        // Compared as the window holds pictures: premultiplied alpha.
        const QImage window = form.windowIcon().pixmap(size, size).toImage();
        EXPECT_TRUE(window == desktop.convertToFormat(window.format())) << size;
    }
}

}  // namespace
