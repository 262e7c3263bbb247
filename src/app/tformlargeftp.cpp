#include "app/tformlargeftp.h"

#include <QPlainTextEdit>

TFormLargeFTP::TFormLargeFTP(QWidget* parent) : QDialog(parent) {
    setObjectName("FormLargeFTP");
    setWindowTitle("FTP Information");
    resize(623, 417);
    m_relargeftp = new QPlainTextEdit(this);
    m_relargeftp->setObjectName("relargeftp");
    m_relargeftp->setReadOnly(true);
    m_relargeftp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_relargeftp->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_relargeftp->setGeometry(4, 4, 609, 377);
}
