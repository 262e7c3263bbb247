#pragma once

#include "common/manifest_format.h"
#include "common/text_table.h"
#include "gather/download_table.h"
#include "gather/gather_engine.h"
#include "support/scripted_prompt.h"

#include <QList>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// A gather engine on a temporary save path, driven the way the window drives it, with
// everything it does recorded: every Status a row showed, the highest Idle (s) of each
// row, the notes for the log, the most downloads live at once, rests and rebuilds.
class GatherHarness {
public:
    GatherHarness();

    // Puts the manifest into the lines and runs Check and fill (which starts the gather).
    FillOutcome load(const QStringList& manifestLines);
    // Waits until the gather rests or a rebuild has run, once more than at the last
    // wait; false after the time-out.
    bool waitEnd(int timeoutMs = 20000);
    // The stall timer ticks this often instead of every second: the watchdog counts
    // ticks, so a test of a 5-tick time-out need not wait 5 seconds.
    void tickEvery(int ms);

    QString cell(int row, int column) const { return table.cell(row, column); }
    QString partPath(int row) const;
    QString outputPath() const;
    QByteArray readOutput() const;

    QTemporaryDir dir;
    GatherSettings settings;
    TextTable table{DownloadTableColumns()};
    ManifestLines mempwq;
    ScriptedPrompt prompt;
    GatherEngine engine;

    QMap<int, QStringList> statuses;  // per row, each Status shown, in order
    QMap<int, int> mostIdle;          // per row, the highest Idle (s)
    QMap<int, QStringList> notes;     // per row, each note for the log, in order
    int mostLive = 0;
    int rests = 0;
    QList<RebuildOutcome> rebuilt;
    QStringList log;  // the log lines of the recovery parts
    int gauge = -1;

private:
    qsizetype m_endsWaited = 0;
};
