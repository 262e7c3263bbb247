#pragma once

#include <QtGlobal>

class TextLog;

// Appends a block of text to the log line by line. CR LF, a lone CR and a lone LF each
// end a line, so two breaks in a row give an empty line; the last line is taken whole
// with or without a break after it, and a final break adds no empty line. A line that
// holds a zero byte is cut at it. Text is UTF-8.
//
// The event loop keeps running while a long text loads (other downloads go on, the
// window repaints): pending events are processed between lines, at most once every
// few milliseconds, so a short text costs no extra work and a long one stays fast.
void LoadLinesFromStream(const char* data, qint64 size, TextLog& log);
