// parcelwick-cli crc, run as a program on real files.
#include "support/cli_runner.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

CliRun runCli(const QStringList& args, const QString& workingDirectory = QString()) {
    return RunCli(args, {.workingDirectory = workingDirectory});
}

class CliCrc : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    std::string write(const QString& name, const QByteArray& bytes) const {
        QFile file(m_dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return file.fileName().toStdString();
    }

    QTemporaryDir m_dir;
};

TEST_F(CliCrc, OneLinePerFileWithThePathAsGiven) {
    const std::string check = write("check.txt", "123456789");
    const std::string zero = write("zero byte.bin", QByteArray(1, '\0'));
    write("empty", "");
    // A relative path comes back as typed, not resolved.
    const CliRun run = runCli({"crc", QString::fromStdString(check), QString::fromStdString(zero), "./empty"}, m_dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err.toStdString(), "");
    EXPECT_EQ(run.out.toStdString(), "CBF43926  " + check + "\nD202EF8D  " + zero + "\n00000000  ./empty\n");
}

TEST_F(CliCrc, UnreadableFileIsReportedAndTheOthersStillPrinted) {
    const std::string check = write("check.txt", "123456789");
    const std::string missing = m_dir.filePath("missing.bin").toStdString();
    const std::string folder = m_dir.path().toStdString();
    const std::string zero = write("zero.bin", QByteArray(1, '\0'));
    const CliRun run = runCli({"crc", QString::fromStdString(check), QString::fromStdString(missing), QString::fromStdString(folder),
                               QString::fromStdString(zero)});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.toStdString(), "CBF43926  " + check + "\nD202EF8D  " + zero + "\n");
    EXPECT_EQ(run.err.toStdString(), "parcelwick-cli: cannot read " + missing + "\nparcelwick-cli: cannot read " + folder + "\n");
}

TEST(CliCrcUsage, NoFileIsAUsageError) {
    const CliRun run = runCli({"crc"});
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.out.toStdString(), "");
    EXPECT_TRUE(run.err.contains("usage: parcelwick-cli crc [-q] FILE...")) << run.err.toStdString();
}

TEST(CliCrcUsage, HelpPrintsUsage) {
    const CliRun run = runCli({"crc", "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.startsWith("usage: parcelwick-cli crc [-q] FILE...")) << run.out.toStdString();
}

}  // namespace
