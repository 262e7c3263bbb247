#pragma once

#include "common/user_prompt.h"

// The user of parcelwick-cli is a script: messages become lines (information on stdout,
// or on stderr where a command reports a refusal with them; errors on stderr), every
// question is answered No (a certificate too: --trust-fingerprint decides beforehand), every dialog is cancelled, and nothing is opened on a
// desktop that is not there.
class CliPrompt : public UserPrompt {
public:
    enum class InformationTo { Stdout, Stderr };
    explicit CliPrompt(InformationTo informationTo = InformationTo::Stdout) : m_informationTo(informationTo) {}

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
    InformationTo m_informationTo;
};
