// Every command reads its options one way: "--opt value" and "--opt=value", --help and
// --version everywhere, and an unknown option or a missing value ends with status 2 and
// the usage on stderr, before anything is done.
#include "support/cli_runner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kVersionLine = QStringLiteral("parcelwick-cli " PW_VERSION "\n");

// An empty start stands for an empty output.
bool beginsWith(const QString& output, const QString& start) {
    return start.isEmpty() ? output.isEmpty() : output.startsWith(start);
}

class CliOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QFile source(m_dir.filePath("ten.bin"));
        ASSERT_TRUE(source.open(QIODevice::WriteOnly));
        source.write("0123456789");
    }
    CliRun run(const QStringList& args) {
        return RunCli(args, {.home = m_dir.filePath("home"), .workingDirectory = m_dir.path()});
    }
    QTemporaryDir m_dir;
};

TEST_F(CliOptionsTest, UsageErrorsHelpAndVersionOfEveryCommand) {
    const struct {
        QStringList args;
        int status;
        QString outStart;  // what stdout begins with
        QString errStart;  // what stderr begins with
    } cases[] = {
        {{"crc", "--help"}, 0, "usage: parcelwick-cli crc", ""},
        {{"crc", "ten.bin", "--version"}, 0, kVersionLine, ""},
        {{"crc", "--bogus", "ten.bin"}, 2, "", "parcelwick-cli crc: Unknown option 'bogus'.\nusage: parcelwick-cli crc"},
        {{"crc", "-qx", "ten.bin"}, 2, "", "parcelwick-cli crc: Unknown option 'x'."},
        {{"split", "-h"}, 0, "usage: parcelwick-cli split", ""},
        {{"split", "--version"}, 0, kVersionLine, ""},
        {{"split", "ten.bin", "--ext"}, 2, "", "parcelwick-cli split: Missing value after '--ext'.\nusage:"},
        {{"split", "ten.bin", "--quiet=yes"}, 2, "", "parcelwick-cli split: Unexpected value after '--quiet'."},
        {{"pwq", "--help"}, 0, "usage: parcelwick-cli pwq", ""},
        {{"pwq", "--version"}, 0, kVersionLine, ""},
        {{"pwq", "ten.bin", "--site=http://a/", "--output"}, 2, "", "parcelwick-cli pwq: Missing value after '--output'."},
        {{"pwq", "ten.bin", "--site", "http://a/"}, 2, "", "parcelwick-cli pwq: no -o given\nusage:"},
        {{"pwq", "ten.bin", "-o", "x.pwq"}, 2, "", "parcelwick-cli pwq: no --site given\nusage:"},
        {{"pwq", "ten.bin", "--site", "http://a/", "-o", "x.pwq", "--parts", "two"}, 2, "",
         "parcelwick-cli pwq: --parts needs a whole number"},
        {{"show", "--help"}, 0, "usage: parcelwick-cli show", ""},
        {{"show", "x.pwq", "--version"}, 0, kVersionLine, ""},
        {{"show", "x.pwq", "--save-path"}, 2, "", "parcelwick-cli show: Missing value after '--save-path'.\nusage:"},
        {{"show", "x.pwq", "y.pwq"}, 2, "", "parcelwick-cli show: unexpected argument \"y.pwq\"\nusage:"},
        {{"show"}, 2, "", "parcelwick-cli show: missing argument\nusage:"},
        // Commands that read their arguments by hand are answered by the dispatcher.
        {{"get", "http://127.0.0.1:1/", "--help"}, 0, "usage: parcelwick-cli get", ""},
        {{"get", "--version"}, 0, kVersionLine, ""},
        {{"rebuild", "--help"}, 0, "usage: parcelwick-cli rebuild", ""},
        {{"--version"}, 0, kVersionLine, ""},
        {{"--help"}, 0, "usage: parcelwick-cli COMMAND", ""},
        {{}, 2, "", "usage: parcelwick-cli COMMAND"},
        {{"frobnicate"}, 2, "", "parcelwick-cli: unknown command \"frobnicate\"\nusage:"},
    };
    for (const auto& c : cases) {
        const std::string name = c.args.join(' ').toStdString();
        const CliRun r = run(c.args);
        EXPECT_EQ(r.status, c.status) << name << "\n" << r.err.toStdString();
        EXPECT_TRUE(beginsWith(r.out, c.outStart)) << name << "\n" << r.out.toStdString();
        EXPECT_TRUE(beginsWith(r.err, c.errStart)) << name << "\n" << r.err.toStdString();
    }
    // Nothing was split or written by a refused command line.
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("home")));
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("x.pwq")));
}

// The help is what a user reads to write a script: every command tells its exit
// statuses and the options every command has, and the overview lists every command.
TEST_F(CliOptionsTest, HelpTellsExitStatusAndCommonOptions) {
    const CliRun overview = run({"--help"});
    ASSERT_EQ(overview.status, 0);
    for (const char* command : {"crc", "split", "pwq", "show"}) {
        EXPECT_TRUE(overview.out.contains(QString("\n  %1 ").arg(command))) << command;
        const CliRun help = run({command, "--help"});
        EXPECT_TRUE(help.out.contains("exit status: 0 ")) << command;
        EXPECT_TRUE(help.out.contains(" 2 wrong options")) << command;
        EXPECT_TRUE(help.out.contains("  -h, --help ")) << command;
        EXPECT_TRUE(help.out.contains("      --version ")) << command;
    }
    EXPECT_TRUE(overview.out.contains("exit status: 0 success; 1 the work failed")) << overview.out.toStdString();
}

// "--opt=value" reads as "--opt value", and options may stand before or after the file.
TEST_F(CliOptionsTest, ValuesAfterAnEqualsSign) {
    const QString spaced = m_dir.filePath("spaced"), joined = m_dir.filePath("joined");
    const CliRun a = run({"split", "--parts", "2", "--name", "p", "--ext", "dat", "--save-path", spaced, "ten.bin"});
    const CliRun b = run({"split", "ten.bin", "--parts=2", "--name=p", "--ext=dat", "--save-path=" + joined, "-q"});
    ASSERT_EQ(a.status, 0) << a.err.toStdString();
    ASSERT_EQ(b.status, 0) << b.err.toStdString();
    EXPECT_EQ(QString(a.out).replace(spaced, "DIR"), QString(b.out).replace(joined, "DIR"));
    EXPECT_EQ(a.out.count('\n'), 2);
    EXPECT_TRUE(QFileInfo::exists(joined + "/ten.bin.uldir/p2.dat"));

    const CliRun c = run({"pwq", "ten.bin", "--site=http://a.example/", "--parts=1", "--user=me", "--comment=text",
                          "--save-path=" + spaced, "--output=eq.pwq"});
    ASSERT_EQ(c.status, 0) << c.err.toStdString();
    const CliRun shown = run({"show", "eq.pwq", "--save-path=" + joined});
    ASSERT_EQ(shown.status, 0) << shown.err.toStdString();
    EXPECT_TRUE(shown.out.contains("http://a.example/ten1.bin\t10\t"));
    EXPECT_TRUE(shown.out.contains(joined + "/ten.bin.dir/parts/ten1.bin")) << shown.out.toStdString();
}

}  // namespace
