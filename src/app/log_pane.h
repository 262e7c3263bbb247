#pragma once

#include <QStringList>

class QPlainTextEdit;
class TextLog;

// Makes a read-only text pane show a log: it takes the log's present lines and then
// follows every append and clear. Every line is one line of the pane, empty ones too.
void BindLogPane(QPlainTextEdit* pane, TextLog* log);

// Replaces what a pane shows with the lines, one pane line each.
void ShowLines(QPlainTextEdit* pane, const QStringList& lines);
