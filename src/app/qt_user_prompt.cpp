#include "app/qt_user_prompt.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

const QString kTitle = QStringLiteral("Parcelwick");

QString withTrailingSlash(const QString& dir) {
    if (dir.isEmpty() || dir.endsWith('/'))
        return dir;
    return dir + '/';
}

}  // namespace

void QtUserPrompt::information(const QString& text) { QMessageBox::information(m_parent, kTitle, text); }

void QtUserPrompt::error(const QString& text) { QMessageBox::critical(m_parent, kTitle, text); }

bool QtUserPrompt::confirm(const QString& text) {
    return QMessageBox::question(m_parent, kTitle, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

QString QtUserPrompt::openFile(const FileDialog& dialog) {
    QFileDialog box(m_parent, dialog.title, dialog.directory, dialog.filter);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    box.setFileMode(QFileDialog::ExistingFile);
    if (!dialog.proposedName.isEmpty())
        box.selectFile(dialog.proposedName);
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty())
        return QString();
    return box.selectedFiles().constFirst();
}

QString QtUserPrompt::saveFile(const FileDialog& dialog) {
    QFileDialog box(m_parent, dialog.title, dialog.directory, dialog.filter);
    box.setAcceptMode(QFileDialog::AcceptSave);
    box.setFileMode(QFileDialog::AnyFile);
    box.setDefaultSuffix(dialog.defaultExtension);
    if (!dialog.proposedName.isEmpty())
        box.selectFile(dialog.proposedName);
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty())
        return QString();
    return box.selectedFiles().constFirst();
}

QString QtUserPrompt::chooseDirectory(const QString& title, const QString& start) {
    return withTrailingSlash(QFileDialog::getExistingDirectory(m_parent, title, start));
}

void QtUserPrompt::openUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

void QtUserPrompt::setBusy(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

CertificateAnswer QtUserPrompt::trustCertificate(const CertificateQuestion& question) {
    QMessageBox box(QMessageBox::Warning, kTitle, CertificateQuestionText(question), QMessageBox::NoButton, m_parent);
    QPushButton* always = box.addButton(QStringLiteral("Always"), QMessageBox::AcceptRole);
    QPushButton* once = box.addButton(QStringLiteral("Once"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("No"), QMessageBox::RejectRole);
    // Enter and Escape both refuse: trust takes a deliberate click.
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    if (box.clickedButton() == always)
        return CertificateAnswer::Always;
    return box.clickedButton() == once ? CertificateAnswer::Once : CertificateAnswer::No;
}
