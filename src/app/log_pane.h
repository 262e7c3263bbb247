#pragma once

class QPlainTextEdit;
class TextLog;

// Makes a read-only text pane show a log: it takes the log's present lines and then
// follows every append and clear.
void BindLogPane(QPlainTextEdit* pane, TextLog* log);
