#pragma once

#include "cli/cli_prompt.h"

#include <functional>

// The prompt of a command that draws a progress line: the line is cleared before every
// message, so the message starts on an empty line. The question a command may ask
// (build despite a bad part?) is answered Yes when the user said so on the command line
// (--yes), and refused otherwise.
class ProgressPrompt : public CliPrompt {
public:
    // clearLine: clears the command's progress line.
    explicit ProgressPrompt(std::function<void()> clearLine, bool yes = false)
        : m_clearLine(std::move(clearLine)), m_yes(yes) {}

    void information(const QString& text) override;
    void error(const QString& text) override;
    bool confirm(const QString& text) override;
    CertificateAnswer trustCertificate(const CertificateQuestion& question) override;

private:
    std::function<void()> m_clearLine;
    bool m_yes;
};
