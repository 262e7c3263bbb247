// A manifest double-clicked in a file manager: the desktop entry's command line, run
// with the installed program, starts the window (offscreen here), which reads that
// manifest at once and fills its download table from it, as the command-line argument
// does.
#include "app/tform1.h"
#include "gather/download_table.h"
#include "install/install_tree.h"
#include "common/text_table.h"
#include "support/event_wait.h"
#include "support/scripted_prompt.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

TEST_F(InstallTest, DoubleClickedManifestOpensInTheInstalledWindow) {
    WriteFile(temp("holiday.mkv"), QByteArray(30000, 'h'));
    const QString manifest = temp("Holiday.PWQ");
    const CliRun pwq = runInstalled(installed("bin/parcelwick-cli"),
                                    {"pwq", temp("holiday.mkv"), "--site", "http://w.example/up/", "--save-path",
                                     temp("send"), "-o", manifest});
    ASSERT_EQ(pwq.status, 0) << pwq.err.toStdString();

    // What the file manager runs: the entry's Exec line with %f as the file's path.
    const QString entry = QString::fromUtf8(ReadFile(installed("share/applications/parcelwick.desktop")));
    const QString exec = entry.section("\nExec=", 1).section('\n', 0, 0);
    ASSERT_EQ(exec, "parcelwick %f");
    ASSERT_TRUE(entry.contains("\nMimeType=application/x-parcelwick-manifest;\n"));
    QStringList command = exec.split(' ');
    command.replaceInStrings("%f", manifest);

    // The window's reading of the manifest is seen by the file system's notifications.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(manifest).constData(), IN_ACCESS | IN_CLOSE_NOWRITE), 0);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", installed("bin") + ":" + env.value("PATH"));
    env.insert("HOME", temp("home"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QProcess window;
    window.setProcessEnvironment(env);
    window.setProcessChannelMode(QProcess::MergedChannels);
    // The entry names the program, which the desktop finds on PATH, as the shell does here.
    window.start("/bin/sh", QStringList{"-c", "exec \"$0\" \"$@\"", command.first()} + command.mid(1));
    ASSERT_TRUE(window.waitForStarted(10000));
    char events[4096];
    const bool read = waitUntil([&] { return ::read(watch, events, sizeof events) > 0; }, 60000);
    ::close(watch);
    // Still up a moment after the table was filled: the manifest was taken, not fatal.
    runLoopFor(1500);
    const bool running = window.state() == QProcess::Running;
    window.kill();
    window.waitForFinished(10000);
    EXPECT_TRUE(read) << window.readAll().toStdString();
    EXPECT_TRUE(running) << window.readAll().toStdString();

    // The same argument in this process: the table holds the manifest's parts.
    ScriptedPrompt prompt;
    TForm1 form(prompt, command.at(1));
    EXPECT_EQ(form.manifestPath(), manifest);
    ASSERT_EQ(form.downloadTable()->rows(), 3) << prompt.messages().join('|').toStdString();
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(form.downloadTable()->cell(row, DownloadColumn::Filename),
                  QString("http://w.example/up/holiday%1.bin").arg(row + 1));
    EXPECT_TRUE(prompt.shown().isEmpty());
}

}  // namespace
