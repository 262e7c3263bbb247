#include "cli/cli_prompt.h"

#include "cli/cli_command.h"

void CliPrompt::information(const QString& text) {
    if (m_informationTo == InformationTo::Stderr)
        CliErr(text);
    else
        CliOut(text);
}

void CliPrompt::error(const QString& text) { CliErr(text); }

bool CliPrompt::confirm(const QString& text) {
    CliErr(text + " No");
    return false;
}

QString CliPrompt::openFile(const FileDialog&) { return QString(); }

QString CliPrompt::saveFile(const FileDialog&) { return QString(); }

QString CliPrompt::chooseDirectory(const QString&, const QString&) { return QString(); }

void CliPrompt::openUrl(const QUrl&) {}

void CliPrompt::setBusy(bool) {}

CertificateAnswer CliPrompt::trustCertificate(const CertificateQuestion& question) {
    CliErr(CertificateQuestionText(question) + " No");
    CliErr("(--trust-fingerprint " + question.sha256 + " trusts it)");
    return CertificateAnswer::No;
}
