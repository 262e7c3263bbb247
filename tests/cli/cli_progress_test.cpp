// The progress line of crc, split and pwq, seen on a real pseudo-terminal: drawn on
// stderr and redrawn in place, cleared before the results, so the screen ends up
// showing exactly what a script reading stdout gets; never written with --quiet or when
// stderr is not a terminal.
#include "support/cli_runner.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

// One drawing of the line: label, bytes done / bytes in all, per cent, then the rate
// and the time left once they are known, then the part being written.
const QRegularExpression kDrawing(
    R"(^(?<label>.*?)  (?<done>[\d.]+ (B|KiB|MiB|GiB)) / (?<total>[\d.]+ (B|KiB|MiB|GiB)) +(?<percent>\d+)%)"
    R"((  (?<rate>[\d.]+ (B|KiB|MiB|GiB))/s  ETA (?<eta>(\d+:)?\d+:\d\d))?(  part (?<part>\d+)/\d+)?$)");

struct Screen {
    QStringList visible;   // each line as the terminal finally shows it
    QStringList drawings;  // every progress drawing, in order
};

// A carriage return sends the cursor back, and what follows overwrites the line: the
// text after the last one is what stays. Everything before it was drawn and replaced.
Screen readScreen(const QString& terminal) {
    Screen screen;
    QStringList lines = terminal.split("\r\n");
    if (lines.last().isEmpty())
        lines.removeLast();
    for (const QString& line : lines) {
        const QStringList pieces = line.split('\r');
        screen.visible.append(pieces.last());
        for (qsizetype i = 0; i + 1 < pieces.size(); ++i) {
            if (!pieces[i].trimmed().isEmpty())
                screen.drawings.append(pieces[i]);
        }
    }
    return screen;
}

QString writeFile(const QString& path, qint64 size) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (qint64 written = 0; written < size; written += block.size()) {
        for (qsizetype i = 0; i < block.size(); ++i)
            block[i] = char((written + i) * 7 + ((written + i) >> 11));
        f.write(block.constData(), std::min<qint64>(block.size(), size - written));
    }
    return path;
}

TEST(CliProgress, OnATerminalOnlyAndClearedBeforeTheResults) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const qint64 MiB = 1 << 20;
    writeFile(dir.filePath("three.bin"), 3 * MiB);
    writeFile(dir.filePath("half.bin"), 3 * MiB / 2);
    writeFile(dir.filePath("empty"), 0);
    const QString longName = QString("a-file-with-a-name-much-longer-than-forty-columns-%1.bin").arg(QString(20, 'x'));
    writeFile(dir.filePath(longName), MiB);
    // A name that would clear the screen and end the line if written as it stands.
    const QString hostileName = "clear\x1b[2J\nline.bin";
    writeFile(dir.filePath(hostileName), MiB);

    const struct {
        const char* name;
        QStringList args;
        QString redirection;
        int columns;         // 0: the terminal never told its width
        bool shown;          // a progress line is expected
        QStringList mustShow;  // beginnings of drawings that must be among them
        QString lastLabel;   // the end of the final drawing's label
        QString lastPart;    // the part the final drawing names, if any
    } cases[] = {
        {"crc, three files",
         {"crc", "three.bin", "empty", "half.bin"},
         "",
         0,
         true,
         {"crc three.bin  1.00 MiB / 3.00 MiB   33%", "crc empty  0 B / 0 B  100%"},
         "crc half.bin",
         ""},
        {"crc, quiet", {"crc", "--quiet", "three.bin", "half.bin"}, "", 0, false, {}, "", ""},
        {"crc, stderr to a file", {"crc", "three.bin"}, "2>err.txt", 0, false, {}, "", ""},
        {"crc, narrow terminal", {"crc", longName}, "", 60, true, {}, "xx.bin", ""},
        {"crc, control characters in the name", {"crc", hostileName}, "", 0, true, {"crc clear?[2J?line.bin  "},
         "crc clear?[2J?line.bin", ""},
        {"split into three",
         {"split", "three.bin", "--save-path", "out"},
         "",
         0,
         true,
         {"split three.bin  256 KiB / 3.00 MiB    8%  "},
         "split three.bin",
         "3"},
        {"split, quiet", {"split", "-q", "half.bin", "--save-path", "out"}, "", 0, false, {}, "", ""},
        {"pwq",
         {"pwq", "half.bin", "--site", "http://w.example/", "--parts", "2", "--save-path", "out", "-o", "h.pwq"},
         "",
         0,
         true,
         {},
         "split half.bin",
         "2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliOptions options{.home = dir.filePath("home"), .workingDirectory = dir.path()};
        const CliRun plain = RunCli(c.args, options);
        ASSERT_EQ(plain.status, 0) << plain.err.toStdString();
        EXPECT_EQ(plain.err, "") << "nothing of the line when stderr is a pipe";

        const CliRun terminal = RunCliOnTerminal(c.args, options, c.redirection, c.columns);
        ASSERT_EQ(terminal.status, 0) << terminal.out.toStdString();
        const Screen screen = readScreen(terminal.out);
        EXPECT_EQ(screen.visible, plain.out.split('\n', Qt::SkipEmptyParts)) << terminal.out.toStdString();
        if (!c.redirection.isEmpty()) {
            QFile err(dir.filePath("err.txt"));
            ASSERT_TRUE(err.open(QIODevice::ReadOnly));
            EXPECT_EQ(err.readAll(), "");
        }
        if (!c.shown) {
            EXPECT_EQ(screen.drawings, QStringList()) << terminal.out.toStdString();
            continue;
        }
        ASSERT_FALSE(screen.drawings.isEmpty()) << terminal.out.toStdString();
        for (const QString& start : c.mustShow) {
            EXPECT_TRUE(std::any_of(screen.drawings.begin(), screen.drawings.end(),
                                    [&start](const QString& drawing) { return drawing.startsWith(start); }))
                << start.toStdString() << "\n" << terminal.out.toStdString();
        }
        int lastPercent = -1;
        QString lastLabel;
        for (const QString& drawing : screen.drawings) {
            const QRegularExpressionMatch m = kDrawing.match(drawing);
            ASSERT_TRUE(m.hasMatch()) << drawing.toStdString();
            EXPECT_LT(drawing.size(), c.columns > 0 ? c.columns : 80) << drawing.toStdString();
            const int percent = m.captured("percent").toInt();
            // Within one label the figures only grow.
            if (m.captured("label") == lastLabel) {
                EXPECT_GE(percent, lastPercent) << drawing.toStdString();
            }
            lastPercent = percent;
            lastLabel = m.captured("label");
        }
        const QRegularExpressionMatch last = kDrawing.match(screen.drawings.last());
        EXPECT_TRUE(last.captured("label").endsWith(c.lastLabel)) << screen.drawings.last().toStdString();
        // A label too long for the terminal keeps its end, where the file name is.
        EXPECT_EQ(last.captured("label").startsWith("..."), c.columns > 0) << screen.drawings.last().toStdString();
        EXPECT_EQ(last.captured("percent"), "100");
        EXPECT_EQ(last.captured("part"), c.lastPart);
        EXPECT_EQ(last.captured("done"), last.captured("total"));
        // A finished transfer knows its rate, and has no time left.
        EXPECT_FALSE(last.captured("rate").isEmpty()) << screen.drawings.last().toStdString();
        EXPECT_EQ(last.captured("eta"), "0:00");
    }

    // Narrower than the figures themselves: cut at the end, but never wrapped.
    const CliRun narrow = RunCliOnTerminal({"crc", "three.bin"}, {.workingDirectory = dir.path()}, "", 30);
    ASSERT_EQ(narrow.status, 0);
    const Screen screen = readScreen(narrow.out);
    EXPECT_EQ(screen.visible, QStringList{RunCli({"crc", "three.bin"}, {.workingDirectory = dir.path()}).out.trimmed()});
    ASSERT_FALSE(screen.drawings.isEmpty());
    for (const QString& drawing : screen.drawings)
        EXPECT_LE(drawing.size(), 29) << drawing.toStdString();
    // The last one, with its rate, is longer than that: the label went, then the end.
    EXPECT_EQ(screen.drawings.last().size(), 29);
    EXPECT_TRUE(screen.drawings.last().startsWith("3.00 MiB / 3.00 MiB  100%  ")) << screen.drawings.last().toStdString();
}

}  // namespace
