#include "app/log_pane.h"

#include "common/text_log.h"

#include <QPlainTextEdit>

void BindLogPane(QPlainTextEdit* pane, TextLog* log) {
    pane->setReadOnly(true);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane->clear();
    for (const QString& line : log->lines())
        pane->appendPlainText(line);
    QObject::connect(log, &TextLog::lineAppended, pane, &QPlainTextEdit::appendPlainText);
    QObject::connect(log, &TextLog::cleared, pane, &QPlainTextEdit::clear);
}
