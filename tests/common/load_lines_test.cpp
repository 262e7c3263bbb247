#include "common/load_lines.h"
#include "common/text_log.h"

#include <QByteArray>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct LinesCase {
    const char* name;
    QByteArray bytes;
    QStringList lines;
};

void PrintTo(const LinesCase& c, std::ostream* os) { *os << c.name; }

class LoadLinesTest : public ::testing::TestWithParam<LinesCase> {};

TEST_P(LoadLinesTest, SplitsAtEveryKindOfBreak) {
    const LinesCase& c = GetParam();
    TextLog log;
    log.append("before");
    LoadLinesFromStream(c.bytes.constData(), c.bytes.size(), log);
    EXPECT_EQ(log.lines(), QStringList("before") + c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadLinesTest,
    ::testing::Values(LinesCase{"CrLf", QByteArray("AB\r\nCD"), {"AB", "CD"}},
                      LinesCase{"DoubleLf", QByteArray("A\n\nB\n"), {"A", "", "B"}},
                      LinesCase{"LoneCr", QByteArray("A\rB"), {"A", "B"}},
                      LinesCase{"TrailingCrLf", QByteArray("A\r\nB\r\n"), {"A", "B"}},
                      LinesCase{"LfCr", QByteArray("A\n\rB"), {"A", "", "B"}},
                      LinesCase{"CrCrLf", QByteArray("A\r\r\nB"), {"A", "", "B"}},
                      LinesCase{"OnlyBreak", QByteArray("\r\n"), {""}},
                      LinesCase{"NulCutsLine", QByteArray("AB\0CD\nEF", 8), {"AB", "EF"}},
                      LinesCase{"NulFirst", QByteArray("\0X\r\nY", 5), {"", "Y"}},
                      LinesCase{"Utf8", QByteArray("gr\xc3\xbc\xc3\x9f\n"), {QString::fromUtf8("grüß")}},
                      LinesCase{"Empty", QByteArray(), {}}),
    [](const ::testing::TestParamInfo<LinesCase>& caseInfo) { return std::string(caseInfo.param.name); });

TEST(LoadLines, NullBlockAppendsNothing) {
    TextLog log;
    int appended = 0;
    QObject::connect(&log, &TextLog::lineAppended, [&] { ++appended; });
    LoadLinesFromStream(nullptr, 10, log);
    LoadLinesFromStream("abc", 0, log);
    EXPECT_EQ(appended, 0);
}

// A long text must not freeze the event loop: an event posted before the load is
// delivered while lines are still arriving.
TEST(LoadLines, LongTextLetsEventsRunMidway) {
    QByteArray text;
    const int count = 300000;
    for (int i = 0; i < count; ++i)
        text += "line " + QByteArray::number(i) + "\r\n";
    TextLog log;
    int linesWhenTimerRan = -1;
    QTimer::singleShot(0, &log, [&] { linesWhenTimerRan = log.count(); });
    LoadLinesFromStream(text.constData(), text.size(), log);
    ASSERT_EQ(log.count(), count);
    EXPECT_EQ(log.lines().last(), "line 299999");
    EXPECT_GT(linesWhenTimerRan, 0);
    EXPECT_LT(linesWhenTimerRan, count);
}

TEST(TextLog, SignalsFollowAppendAndClear) {
    TextLog log;
    QStringList appended;
    int cleared = 0;
    QObject::connect(&log, &TextLog::lineAppended, [&](const QString& line) { appended << line; });
    QObject::connect(&log, &TextLog::cleared, [&] { ++cleared; });
    log.append("one");
    log.append("");
    EXPECT_EQ(log.lines(), QStringList({"one", ""}));
    EXPECT_EQ(appended, QStringList({"one", ""}));
    log.clear();
    EXPECT_EQ(log.count(), 0);
    EXPECT_EQ(cleared, 1);
}

}  // namespace
