#include "cli/progress_prompt.h"

#include "cli/cli_command.h"

void ProgressPrompt::information(const QString& text) {
    m_clearLine();
    CliPrompt::information(text);
}

void ProgressPrompt::error(const QString& text) {
    m_clearLine();
    CliPrompt::error(text);
}

bool ProgressPrompt::confirm(const QString& text) {
    m_clearLine();
    if (!m_yes)
        return CliPrompt::confirm(text);
    CliErr(text + " Yes");
    return true;
}

CertificateAnswer ProgressPrompt::trustCertificate(const CertificateQuestion& question) {
    m_clearLine();
    return CliPrompt::trustCertificate(question);
}
