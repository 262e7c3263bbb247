#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// An ordered list of text lines that only grows or is emptied: the FTP log and the
// fetched-manifest buffer. The core appends to it without knowing which pane, if any,
// shows it; a pane follows the signals.
class TextLog : public QObject {
    Q_OBJECT
public:
    explicit TextLog(QObject* parent = nullptr) : QObject(parent) {}

    const QStringList& lines() const { return m_lines; }
    int count() const { return static_cast<int>(m_lines.size()); }

    void append(const QString& line);
    void clear();

signals:
    void lineAppended(const QString& line);
    void cleared();

private:
    QStringList m_lines;
};
