#include "common/manifest_format.h"
#include "crc/crc32.h"
#include "gather/download_table.h"
#include "gather/gather_paths.h"
#include "gather/manifest_parts.h"
#include "gather/rebuild.h"
#include "support/scripted_prompt.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString CrcText(const QByteArray& bytes) {
    return QString::fromStdString(Crc32Text(~Crc32Update(0xFFFFFFFFu, bytes.constData(), bytes.size())));
}

// Seeded, so the data (and whether its CRC text holds letters) is the same every run.
QByteArray RandomBytes(QRandomGenerator& generator, int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes)
        b = static_cast<char>(generator.bounded(256));
    return bytes;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A gather whose parts lie in the parts directory: 1000, 1000 and 500 bytes.
class RebuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_savePath = m_dir.path() + "/save/";
        m_paths = std::make_unique<GatherPaths>(m_savePath, "big.iso");
        QRandomGenerator generator(20261208);
        m_parts = {RandomBytes(generator, 1000), RandomBytes(generator, 1000), RandomBytes(generator, 500)};
        ASSERT_TRUE(QDir().mkpath(m_paths->partsDirectory()));
        QList<ManifestPart> entries;
        for (int i = 0; i < m_parts.size(); ++i) {
            const QString url = QString("http://w.example/d/big%1.bin").arg(i + 1);
            entries.append({url, QString::number(m_parts[i].size()), CrcText(m_parts[i])});
            writePart(url, m_parts[i]);
        }
        FillDownloadTable(m_table, entries);
        m_mempwq.replace({ManifestSignature, "1", "big.iso", CrcText(m_parts.join()), "3"});
    }
    void writePart(const QString& url, const QByteArray& bytes) {
        QFile f(m_paths->partFile(url));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    RebuildOutcome rebuild() { return Rebuild(m_mempwq, m_savePath, m_table, m_prompt, [&](int p) { m_gauge = p; }); }

    QTemporaryDir m_dir;
    QString m_savePath;
    std::unique_ptr<GatherPaths> m_paths;
    QList<QByteArray> m_parts;
    TextTable m_table{DownloadTableColumns()};
    ManifestLines m_mempwq;
    ScriptedPrompt m_prompt;
    int m_gauge = -1;
};

TEST_F(RebuildTest, JoinsThePartsInTableOrderOpensTheFolderAndReports) {
    m_table.setCell(0, DownloadColumn::CrcOk, "G");
    EXPECT_EQ(rebuild(), RebuildOutcome::Extracted);
    EXPECT_EQ(ReadAll(m_paths->outputFile()), m_parts.join());
    EXPECT_EQ(m_gauge, 33);
    EXPECT_EQ(m_prompt.openedUrls(), QList<QUrl>{QUrl::fromLocalFile(m_savePath + "big.iso.dir/")});
    EXPECT_EQ(m_prompt.messages(), QStringList{"Extracted " + m_savePath + "big.iso.dir/big.iso successfully!"});
    EXPECT_EQ(m_prompt.busyDepth(), 0);

    // A second run rewrites the file rather than appending to it.
    m_prompt.forget();
    EXPECT_EQ(rebuild(), RebuildOutcome::Extracted);
    EXPECT_EQ(ReadAll(m_paths->outputFile()).size(), 2500);
}

TEST_F(RebuildTest, OneAlteredByteGivesTheCrcMessageAndAFullFile) {
    QByteArray altered = m_parts[1];
    altered[500] = static_cast<char>(altered[500] ^ 0x01);
    writePart(m_table.cell(1, DownloadColumn::Filename), altered);
    EXPECT_EQ(rebuild(), RebuildOutcome::CrcError);
    EXPECT_EQ(ReadAll(m_paths->outputFile()), m_parts[0] + altered + m_parts[2]);
    EXPECT_EQ(m_prompt.messages(), QStringList{"CRC Error on " + m_paths->outputFile()});
    EXPECT_TRUE(m_prompt.openedUrls().isEmpty());
}

TEST_F(RebuildTest, LowerCaseFileCrcNeverMatches) {
    QStringList lines = m_mempwq.lines();
    lines[ManifestLine::FileCrc] = lines[ManifestLine::FileCrc].toLower();
    ASSERT_NE(lines[ManifestLine::FileCrc], m_mempwq.fileCrcLine()) << "the seeded data's CRC has letters";
    m_mempwq.replace(lines);
    EXPECT_EQ(rebuild(), RebuildOutcome::CrcError);
}

TEST_F(RebuildTest, AMissingPartStopsWithItsNameAndLeavesNoHalfFile) {
    const QString missing = m_paths->partFile(m_table.cell(1, DownloadColumn::Filename));
    ASSERT_TRUE(QFile::remove(missing));
    QFile earlier(m_paths->outputFile());
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("an earlier output");
    earlier.close();
    EXPECT_EQ(rebuild(), RebuildOutcome::Failed);
    ASSERT_EQ(m_prompt.shown().size(), 1);
    EXPECT_EQ(m_prompt.shown()[0].kind, ScriptedPrompt::Kind::Error);
    EXPECT_TRUE(m_prompt.shown()[0].text.contains(missing)) << m_prompt.shown()[0].text.toStdString();
    EXPECT_EQ(ReadAll(m_paths->outputFile()), "an earlier output") << "the half join went nowhere";
    EXPECT_EQ(QDir(m_paths->workDirectory()).entryList(QDir::Files | QDir::Hidden), QStringList{"big.iso"});
    EXPECT_TRUE(m_prompt.openedUrls().isEmpty());
    EXPECT_EQ(m_prompt.busyDepth(), 0);
}

TEST_F(RebuildTest, AnEmptyTableWritesAnEmptyFileWithCrcZero) {
    m_table.clear();
    for (const char* crc : {"00000000", "DEADBEEF"}) {
        m_prompt.forget();
        m_mempwq.replace({ManifestSignature, "1", "big.iso", crc, "0"});
        EXPECT_EQ(rebuild(), QString(crc) == "00000000" ? RebuildOutcome::Extracted : RebuildOutcome::CrcError);
        EXPECT_EQ(m_gauge, 0);
        EXPECT_TRUE(QFileInfo::exists(m_paths->outputFile()));
        EXPECT_EQ(QFileInfo(m_paths->outputFile()).size(), 0);
    }
}

TEST_F(RebuildTest, CreatesMissingDirectoriesAndReportsOnesItCannot) {
    ASSERT_TRUE(QDir(m_savePath).removeRecursively());
    for (int i = 0; i < m_parts.size(); ++i) {
        ASSERT_TRUE(QDir().mkpath(m_paths->partsDirectory()));
        writePart(m_table.cell(i, DownloadColumn::Filename), m_parts[i]);
    }
    // A file standing where the save path should be a directory.
    QFile blocker(m_dir.path() + "/blocked");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_savePath = m_dir.path() + "/blocked/";
    EXPECT_EQ(rebuild(), RebuildOutcome::Failed);
    EXPECT_EQ(m_prompt.messages(), QStringList{"Cannot create " + m_savePath + "big.iso.dir/parts/: Not a directory"});
}

TEST_F(RebuildTest, NamesThatAreNotPlainAreRefusedBeforeAnythingIsWritten) {
    m_mempwq.replace({ManifestSignature, "1", "../escape", CrcText(m_parts.join()), "3"});
    EXPECT_EQ(rebuild(), RebuildOutcome::Failed);
    EXPECT_FALSE(QFileInfo::exists(m_savePath + "../escape.dir"));
    m_mempwq.replace({ManifestSignature, "1", "big.iso", CrcText(m_parts.join()), "3"});
    m_table.setCell(2, DownloadColumn::Filename, "http://w.example/d/");
    QFile::remove(m_paths->outputFile());
    EXPECT_EQ(rebuild(), RebuildOutcome::Failed);
    EXPECT_FALSE(QFileInfo::exists(m_paths->outputFile()));
}

// A prompt that notes whether the busy cursor was up when a message appeared.
class CursorWatchingPrompt : public ScriptedPrompt {
public:
    void information(const QString& text) override {
        busyAtMessage << busyDepth();
        ScriptedPrompt::information(text);
    }
    void error(const QString& text) override {
        busyAtMessage << busyDepth();
        ScriptedPrompt::error(text);
    }
    QList<int> busyAtMessage;
};

TEST_F(RebuildTest, TheBusyCursorIsGoneBeforeTheFinalMessageAndAnUnreadablePartIsNamed) {
    struct Row {
        const char* name;
        std::function<void()> spoil;
        RebuildOutcome outcome;
        QString message;
    };
    const QString second = m_paths->partFile(m_table.cell(1, DownloadColumn::Filename));
    const Row rows[] = {
        {"whole", [] {}, RebuildOutcome::Extracted, "Extracted " + m_paths->outputFile() + " successfully!"},
        {"wrong byte", [&] { writePart(m_table.cell(2, DownloadColumn::Filename), "x"); }, RebuildOutcome::CrcError,
         "CRC Error on " + m_paths->outputFile()},
        {"a directory for a part", [&] {
             QFile::remove(second);
             QDir().mkdir(second);
         }, RebuildOutcome::Failed,
         "Cannot read the part file " + second + ": Is a directory"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.spoil();
        CursorWatchingPrompt prompt;
        EXPECT_EQ(Rebuild(m_mempwq, m_savePath, m_table, prompt), row.outcome);
        EXPECT_EQ(prompt.messages(), QStringList{row.message});
        EXPECT_EQ(prompt.busyAtMessage, QList<int>{0});
        EXPECT_EQ(prompt.busyCount(), 1) << "the cursor showed during the join";
    }
}

}  // namespace
