#include "install/install_tree.h"

#include <QDir>
#include <QFile>

const QStringList InstalledFiles = {
    "bin/parcelwick",
    "bin/parcelwick-cli",
    "share/parcelwick/parcelwick-help.html",
    "share/parcelwick/parcelwick-start.html",
    "share/applications/parcelwick.desktop",
    "share/mime/packages/parcelwick.xml",
    "share/icons/hicolor/scalable/apps/parcelwick.svg",
    "share/icons/hicolor/48x48/apps/parcelwick.png",
    "share/icons/hicolor/256x256/apps/parcelwick.png",
    "share/man/man1/parcelwick.1",
    "share/man/man1/parcelwick-cli.1",
    "share/metainfo/example.parcelwick.parcelwick.metainfo.xml",
    "share/bash-completion/completions/parcelwick-cli",
};

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

void InstallTest::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    ASSERT_TRUE(QDir().mkpath(temp("home")) && QDir().mkpath(temp("xdg-home")));
    const CliRun run = RunProgram(PW_CMAKE, {"--install", PW_BUILD_DIR, "--prefix", "/usr"},
                                  {.environment = {"DESTDIR=" + root()}, .timeoutMs = 120000});
    ASSERT_EQ(run.status, 0) << run.out.toStdString() << run.err.toStdString();
}

QString InstallTest::installed(const QString& relative) const {
    return relative.isEmpty() ? root() + "/usr" : root() + "/usr/" + relative;
}

CliRun InstallTest::runInstalled(const QString& program, const QStringList& args,
                                 const QStringList& environment) const {
    CliOptions options{.home = temp("home"), .workingDirectory = temp("")};
    options.environment = QStringList{
        "PATH=" + installed("bin") + ":" + qEnvironmentVariable("PATH"),
        "XDG_DATA_HOME=" + temp("xdg-home"),
        "XDG_DATA_DIRS=" + installed("share") + ":/usr/share",
    } + environment;
    return RunProgram(program, args, options);
}
