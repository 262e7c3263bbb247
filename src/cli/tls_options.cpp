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
    QStringList fingerprints;
    for (const QString& given : parser.values(m_fingerprint)) {
        // openssl prints "sha256 Fingerprint=AB:CD:...": the line as it stands is taken too.
        fingerprints << TTlsContext::NormalizeFingerprint(given.mid(given.lastIndexOf('=') + 1));
        if (fingerprints.last().isEmpty())
            return CliUsageFailure(command, "--trust-fingerprint takes 64 hexadecimal digits, not \"" + given + '"',
                                   usage);
    }
    TTlsOptions options;
    options.caFile = parser.value(m_caFile);
    options.insecure = parser.isSet(m_insecure);
    TlsConfiguration& tls = TlsConfiguration::Shared();
    try {
        if (!options.caFile.isEmpty() || options.insecure)
            tls.SetOptions(options);
    } catch (const ESocketException& e) {
        CliErr("parcelwick-cli " + command + ": " + e.text());
        return CliFailure;
    }
    // Given for this command, a fingerprint holds for whatever server the command reaches.
    for (const QString& fingerprint : std::as_const(fingerprints))
        tls.Trust(QString(), fingerprint);
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

std::optional<TFtpTlsMode> FtpTlsModeNamed(const QString& name) {
    if (name == QLatin1String("off"))
        return ftpTlsOff;
    if (name == QLatin1String("try"))
        return ftpTlsWhenOffered;
    if (name == QLatin1String("require"))
        return ftpTlsRequired;
    return std::nullopt;
}
