#pragma once

#include <QDialog>

class QPlainTextEdit;

// pwUnit2: the large window in which the FTP log is read. It holds a copy of the log
// taken when it was opened and has no behaviour of its own.
class TFormLargeFTP : public QDialog {
    Q_OBJECT
public:
    explicit TFormLargeFTP(QWidget* parent = nullptr);

    QPlainTextEdit* relargeftp() const { return m_relargeftp; }

private:
    QPlainTextEdit* m_relargeftp;
};
