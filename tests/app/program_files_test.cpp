// Where the window finds its help page and start page: in the install's data folder
// seen from the program's folder (../share/parcelwick/), else beside the program, as in
// the build folder.
#include "app/program_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

enum class Place { Nothing, File, Folder };

void make(const QString& path, Place what) {
    if (what == Place::File) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    } else if (what == Place::Folder) {
        ASSERT_TRUE(QDir().mkpath(path));
    }
}

TEST(ShippedFilePath, InstalledPlaceFirstThenBesideTheProgram) {
    const struct {
        const char* name;
        Place installed;
        Place beside;
        bool expectInstalled;
    } cases[] = {
        {"installed copy", Place::File, Place::Nothing, true},
        {"build folder", Place::Nothing, Place::File, false},
        {"both: the installed one", Place::File, Place::File, true},
        {"neither: where the program is", Place::Nothing, Place::Nothing, false},
        {"a folder of that name is no page", Place::Folder, Place::File, false},
    };
    for (const auto& c : cases) {
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const QString bin = root.filePath("usr/bin/");
        ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(root.filePath("usr/share/parcelwick")));
        make(root.filePath("usr/share/parcelwick/") + HelpPageName, c.installed);
        make(bin + HelpPageName, c.beside);
        const QString expected =
            c.expectInstalled ? root.filePath("usr/share/parcelwick/") + HelpPageName : bin + HelpPageName;
        EXPECT_EQ(ShippedFilePath(bin, HelpPageName), expected) << c.name;
    }
}

}  // namespace
