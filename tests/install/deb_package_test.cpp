// The Debian package, made by scripts/package from this build's tree (as it makes the
// Release one from a tree of its own), holds every file of an install, depends on the
// libraries the programs use, and runs once unpacked.
#include "install/install_tree.h"

#include <QDir>
#include <QFileInfo>

namespace {

TEST(DebPackage, BuiltUnpackedAndRun) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const CliRun build = RunProgram(PW_SOURCE_DIR "/scripts/package",
                                    {"--no-setup", "--from-build", PW_BUILD_DIR, "--build-dir", dir.filePath("build")},
                                    {.timeoutMs = 600000});
    ASSERT_EQ(build.status, 0) << build.err.right(4000).toStdString();
    const QString architecture = RunProgram("dpkg", {"--print-architecture"}).out.trimmed();
    const QString deb = dir.filePath("build/parcelwick_" PW_VERSION "_" + architecture + ".deb");
    EXPECT_EQ(build.out, deb + "\n");
    ASSERT_TRUE(QFileInfo(deb).isFile());

    const QStringList listed = RunProgram("dpkg-deb", {"-c", deb}).out.split('\n');
    for (const QString& file : InstalledFiles) {
        const auto entry = std::find_if(listed.begin(), listed.end(),
                                        [&](const QString& line) { return line.endsWith(" ./usr/" + file); });
        ASSERT_NE(entry, listed.end()) << file.toStdString();
        EXPECT_TRUE(entry->startsWith(file.startsWith("bin/") ? "-rwxr-xr-x root/root" : "-rw-r--r-- root/root"))
            << entry->toStdString();
    }

    auto field = [&](const char* name) { return RunProgram("dpkg-deb", {"-f", deb, name}).out.trimmed(); };
    EXPECT_EQ(field("Package"), "parcelwick");
    EXPECT_EQ(field("Version"), PW_VERSION);
    EXPECT_EQ(field("Architecture"), architecture);
    EXPECT_TRUE(field("Maintainer").endsWith("@parcelwick.example>")) << field("Maintainer").toStdString();
    // Read from the programs by dpkg-shlibdeps, with the versions the build used.
    const QString depends = field("Depends");
    for (const char* library :
         {"libc6 (>= ", "libqt6core6 (>= ", "libqt6widgets6 (>= ", "libqt6webenginewidgets6 (>= ", "libssl3 (>= "})
        EXPECT_TRUE(depends.contains(library)) << library << " in " << depends.toStdString();
    EXPECT_EQ(field("Recommends"), "xdg-utils, ca-certificates");

    const QString unpacked = dir.filePath("unpacked");
    ASSERT_EQ(RunProgram("dpkg-deb", {"-x", deb, unpacked}).status, 0);
    WriteFile(dir.filePath("check.txt"), "123456789");
    const CliRun crc = RunProgram(unpacked + "/usr/bin/parcelwick-cli", {"crc", dir.filePath("check.txt")});
    EXPECT_EQ(crc.status, 0) << crc.err.toStdString();
    EXPECT_EQ(crc.out, "CBF43926  " + dir.filePath("check.txt") + "\n");
    const CliRun help = RunProgram(unpacked + "/usr/bin/parcelwick", {"--help"});
    EXPECT_TRUE(help.out.contains("  help page   " + unpacked + "/usr/share/parcelwick/parcelwick-help.html\n"))
        << help.out.toStdString();
}

}  // namespace
