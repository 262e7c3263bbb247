#pragma once

#include <QString>
#include <stdexcept>

// A failure that abandons the operation in progress. Its text is the program's own
// message, shown to the user as it stands by whoever catches it (the window's handler
// guard, the command-line tool's error line).
class UserError : public std::runtime_error {
public:
    explicit UserError(const QString& text) : std::runtime_error(text.toStdString()), m_text(text) {}
    const QString& text() const { return m_text; }

private:
    QString m_text;
};
