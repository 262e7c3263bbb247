#include "common/text_log.h"

void TextLog::append(const QString& line) {
    m_lines.append(line);
    emit lineAppended(line);
}

void TextLog::clear() {
    m_lines.clear();
    emit cleared();
}
