#include "app/log_pane.h"

#include "common/text_log.h"

#include <QPlainTextEdit>
#include <QTextCursor>

namespace {

// appendPlainText writes into the document's first block for as long as the document
// holds no text, so empty lines at the top would vanish and the next line take their
// place. Past the log's first line, a pane that still looks empty gets a new block.
void appendLine(QPlainTextEdit* pane, const QString& line, bool firstLine) {
    if (firstLine) {
        pane->setPlainText(line);
    } else if (pane->document()->isEmpty()) {
        QTextCursor end(pane->document());
        end.movePosition(QTextCursor::End);
        end.insertBlock();
        end.insertText(line);
    } else {
        pane->appendPlainText(line);
    }
}

}  // namespace

void ShowLines(QPlainTextEdit* pane, const QStringList& lines) { pane->setPlainText(lines.join('\n')); }

void BindLogPane(QPlainTextEdit* pane, TextLog* log) {
    pane->setReadOnly(true);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ShowLines(pane, log->lines());
    QObject::connect(log, &TextLog::lineAppended, pane,
                     [pane, log](const QString& line) { appendLine(pane, line, log->count() == 1); });
    QObject::connect(log, &TextLog::cleared, pane, &QPlainTextEdit::clear);
}
