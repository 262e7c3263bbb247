#pragma once

#include "common/user_prompt.h"

class QWidget;

// The prompt of the window: real message boxes, file dialogs and the desktop's default
// handler. Every box is titled "Parcelwick" and is modal to the parent window.
class QtUserPrompt : public UserPrompt {
public:
    explicit QtUserPrompt(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    void information(const QString& text) override;
    void error(const QString& text) override;
    bool confirm(const QString& text) override;
    QString openFile(const FileDialog& dialog) override;
    QString saveFile(const FileDialog& dialog) override;
    QString chooseDirectory(const QString& title, const QString& start) override;
    void openUrl(const QUrl& url) override;
    void setBusy(bool busy) override;
    CertificateAnswer trustCertificate(const CertificateQuestion& question) override;

private:
    QWidget* m_parent;
};
