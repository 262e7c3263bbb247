#include "cli/tls_options.h"

#include "cli/cli_command.h"
#include "cli/cli_prompt.h"
#include "cli/command_line.h"
#include "net/async_socket.h"
#include "net/tls_configuration.h"
#include "net/tls_trust_question.h"

void CliTlsOptions::addTo(QCommandLineParser& parser) const { parser.addOptions({m_caFile, m_insecure, m_fingerprint}); }

std::optional<int> CliTlsOptions::apply(const QCommandLineParser& parser, const QString& command,
                                        const QString& usage) const {
    TlsConfiguration& tls = TlsConfiguration::Shared();
    for (const QString& given : parser.values(m_fingerprint)) {
        // openssl prints "sha256 Fingerprint=AB:CD:...": the line as it stands is taken too.
        const QString fingerprint = given.mid(given.lastIndexOf('=') + 1);
        // Given for this command, it holds for whatever server the command reaches.
        if (!tls.Trust(QString(), fingerprint))
            return CliUsageFailure(command, "--trust-fingerprint takes 64 hexadecimal digits, not \"" + given + '"',
                                   usage);
    }
    TTlsOptions options;
    options.caFile = parser.value(m_caFile);
    options.insecure = parser.isSet(m_insecure);
    try {
        tls.SetOptions(options);
    } catch (const ESocketException& e) {
        CliErr("parcelwick-cli " + command + ": " + e.text());
        return CliFailure;
    }
    if (options.insecure)
        CliErr("parcelwick-cli " + command +
               ": warning: --insecure: server certificates are not checked, so anyone on the way can read and "
               "change what is transferred");
    return std::nullopt;
}

void ShowRefusedCertificates() {
    CliPrompt prompt;
    TlsTrustQuestions().AskAll(prompt);
}
