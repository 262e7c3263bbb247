#pragma once

#include "net/tls_configuration.h"

#include <QSet>
#include <QString>

class UserPrompt;

// Puts a refused certificate to the user and applies the answer: Once trusts it for the
// life of the process, Always also keeps it (TlsConfiguration::TrustAlways), No leaves
// it refused. True when it is trusted now. A refusal that carries no certificate (the
// server sent none) is not asked about.
bool AskToTrustCertificate(UserPrompt& prompt, const TlsRefusal& refusal,
                           TlsConfiguration& configuration = TlsConfiguration::Shared());

// The questions of a run with many connections (a gather's downloads): every refused
// certificate noted in the configuration is put to the user once per host:port, also
// when several connections to it fail at once or fail again while a question is open.
// A certificate the user declined is not asked about again until Forget().
class TlsTrustQuestions {
public:
    explicit TlsTrustQuestions(TlsConfiguration& configuration = TlsConfiguration::Shared())
        : m_configuration(configuration) {}

    // Asks about every refusal waiting, those noted while a question is open included.
    // True when a certificate stays refused (declined now or before).
    bool AskAll(UserPrompt& prompt);
    // Asks about the refusal noted for this host:port only (the refusals of other
    // connections wait for their own owners' questions).
    enum class Verdict { NothingRefused, Trusted, Refused };
    Verdict AskAbout(UserPrompt& prompt, const QString& hostPort);
    void Forget() { m_declined.clear(); }

private:
    // True when the certificate is trusted now; a declined one is not asked about again.
    bool ask(UserPrompt& prompt, const TlsRefusal& refusal);

    TlsConfiguration& m_configuration;
    QSet<QString> m_declined; // "host:port fingerprint"
};
