// What a gather, a rebuild and a split meet on the local disk: links planted in the save
// folder, folders that cannot be made, a full file system, a server that sends more than
// the part. Each row runs parcelwick-cli as a script would and checks its exit status
// (within a bound: these used to hang), the reason it gives, that no file in the save
// folder grew past the part's size, and that nothing outside the save folder changed.
#include "support/cli_runner.h"
#include "support/manifest_maker.h"
#include "support/part_server.h"
#include "support/test_bytes.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>

namespace {

const QByteArray kPartBytes = SeededBytes(2 << 20, 16);

class Scene;

struct Surprise {
    const char* name;
    std::function<void(Scene&)> plant;
    QStringList command;  // {manifest}: the manifest of one part, {source}: a file of the part's bytes
    int status;
    QStringList said;     // texts standard error holds; {save} and {work} stand for those folders
    QString notSaid;
    QList<PartReply> replies = {PartReply::ok(kPartBytes)};
    QString fileName = "f.dat";
};

// A save folder, a folder beside it with a file worth keeping, and a server for the one
// part of the manifest. Mounts made by a row are undone at the end, whatever happened.
class Scene {
public:
    explicit Scene(const Surprise& row) : m_row(row), m_server({{"/p1.bin", row.replies}}) {
        EXPECT_TRUE(m_dir.isValid());
        QDir().mkpath(save());
        QDir().mkpath(outside());
        WriteFileBytes(outside() + "victim", "worth keeping");
        WriteFileBytes(source(), kPartBytes);
        WriteFileBytes(manifest(), ManifestFileText(ManifestLinesFor(row.fileName, {kPartBytes}, {m_server.url("/p1.bin")})));
    }
    ~Scene() {
        for (const QByteArray& point : m_mounts)
            ::umount2(point.constData(), MNT_DETACH);
    }

    QString save() const { return m_dir.path() + "/save/"; }
    QString work() const { return save() + m_row.fileName + ".dir/"; }
    QString outside() const { return m_dir.path() + "/outside/"; }
    QString source() const { return m_dir.path() + "/src.bin"; }
    QString manifest() const { return m_dir.path() + "/m.pwq"; }

    void link(const QString& at, const QString& target) {
        QDir().mkpath(QFileInfo(at).path());
        EXPECT_TRUE(QFile::link(target, at)) << at.toStdString();
    }
    void writePart() {
        QDir().mkpath(work() + "parts");
        WriteFileBytes(work() + "parts/p1.bin", kPartBytes);
    }
    // A fresh tmpfs as the save folder. The tests run as root; a refused mount fails the row.
    void mountSave(unsigned long flags, const char* options) {
        const QByteArray point = QFile::encodeName(save());
        ASSERT_EQ(::mount("tmpfs", point.constData(), "tmpfs", flags, options), 0) << std::strerror(errno);
        m_mounts << point;
    }

    QString fill(QString text) const {
        return text.replace("{manifest}", manifest()).replace("{source}", source()).replace("{work}", work()).replace(
            "{save}", save());
    }
    // Every entry outside the save folder: files with their size and CRC, links with
    // their targets.
    std::string outsideSave() const {
        QStringList seen;
        QDirIterator it(m_dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo entry(it.next());
            if (entry.filePath().startsWith(save()))
                continue;
            const QByteArray bytes = entry.isFile() && !entry.isSymLink() ? ReadFileBytes(entry.filePath()) : "";
            seen << entry.filePath() + (entry.isSymLink() ? " -> " + entry.symLinkTarget()
                                        : entry.isDir()   ? QString("/")
                                                          : QString(" %1 bytes, CRC %2").arg(bytes.size()).arg(CrcTextOf(bytes)));
        }
        seen.sort();
        return seen.join('\n').toStdString();
    }
    // The largest file in the save folder.
    qint64 largestSaved() const {
        qint64 largest = 0;
        QDirIterator it(save(), QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
        while (it.hasNext())
            largest = std::max(largest, QFileInfo(it.next()).size());
        return largest;
    }

private:
    const Surprise& m_row;
    QTemporaryDir m_dir;
    PartServer m_server;
    QList<QByteArray> m_mounts;
};

const QString WriteLink = " is a symbolic link; Parcelwick does not write through links";

QList<Surprise> Surprises() {
    const QStringList gather = {"gather", "{manifest}"};
    const QStringList rebuild = {"rebuild", "{manifest}"};
    return {
        {"a link planted as the part file", [](Scene& s) { s.link(s.work() + "parts/p1.bin", s.outside() + "victim"); },
         gather, 1, {"{work}parts/p1.bin" + WriteLink, "part 1/1: Error:File"}},
        {"a dangling link as the part file", [](Scene& s) { s.link(s.work() + "parts/p1.bin", s.outside() + "absent"); },
         gather, 1, {"{work}parts/p1.bin" + WriteLink}},
        {"a linked parts directory", [](Scene& s) { s.link(s.work() + "parts", s.outside()); }, gather, 1,
         {"{work}parts/" + WriteLink}},
        {"a link to the part's very bytes is not read into the file",
         [](Scene& s) {
             WriteFileBytes(s.outside() + "copy", kPartBytes);
             s.link(s.work() + "parts/p1.bin", s.outside() + "copy");
         },
         rebuild, 1, {"{work}parts/p1.bin is a symbolic link; Parcelwick does not read through links"}},
        {"a link planted as the output",
         [](Scene& s) {
             s.writePart();
             s.link(s.work() + "f.dat", s.outside() + "victim");
         },
         rebuild, 1, {"{work}f.dat" + WriteLink}},
        {"a link in the upload folder", [](Scene& s) { s.link(s.save() + "src.bin.uldir/s2.bin", s.outside() + "victim"); },
         {"split", "{source}", "--name", "s", "--parts", "2"}, 1, {"{save}src.bin.uldir/s2.bin" + WriteLink}},
        {"a save folder that cannot be written", [](Scene& s) { s.mountSave(MS_RDONLY, "size=1m"); }, gather, 1,
         {"Cannot create {work}parts/: Read-only file system"}},
        {.name = "a file-name line longer than a name may be", .plant = [](Scene&) {}, .command = gather, .status = 1,
         .said = {"Cannot create {work}parts/: File name too long"}, .fileName = QString(300, 'n')},
        {"a full file system stops the gather at once", [](Scene& s) { s.mountSave(0, "size=1m"); }, gather, 1,
         {"Cannot write {work}parts/p1.bin: No space left on device", "part 1/1: Error:No space left on device"},
         "attempt 2"},
        {"a server sending more than the part is fetched again, never past the part", [](Scene&) {},
         {"gather", "{manifest}", "--attempts", "10"}, 1,
         {"part 1/1: Error:server sent more than the part's 2097152 bytes", "part 1/1 started (attempt 2)"}, "",
         {PartReply::ok(kPartBytes + SeededBytes(1 << 20, 17))}},
    };
}

void PrintTo(const Surprise& row, std::ostream* os) { *os << row.name; }

class LocalSurpriseTest : public ::testing::TestWithParam<Surprise> {};

TEST_P(LocalSurpriseTest, EndsWithTheReasonAndTouchesNothingOutsideTheSaveFolder) {
    const Surprise& row = GetParam();
    Scene scene(row);
    row.plant(scene);
    const std::string before = scene.outsideSave();
    QStringList args;
    for (const QString& arg : row.command)
        args << scene.fill(arg);
    CliOptions options;
    options.timeoutMs = 30000;
    const CliRun run = RunCli(args + QStringList{"--save-path", scene.save()}, options);

    EXPECT_EQ(run.status, row.status) << run.err.toStdString();
    for (const QString& text : row.said)
        EXPECT_TRUE(run.err.contains(scene.fill(text))) << scene.fill(text).toStdString() << "\nin:\n"
                                                        << run.err.toStdString();
    if (!row.notSaid.isEmpty()) {
        EXPECT_FALSE(run.err.contains(row.notSaid)) << run.err.toStdString();
    }
    EXPECT_LE(scene.largestSaved(), kPartBytes.size());
    EXPECT_EQ(scene.outsideSave(), before);
}

INSTANTIATE_TEST_SUITE_P(Disk, LocalSurpriseTest, ::testing::ValuesIn(Surprises()), [](const auto& row) {
    QString name = QString::fromLatin1(row.param.name);
    name.replace(QRegularExpression("[^A-Za-z0-9]+"), "_");
    return name.toStdString();
});

}  // namespace
