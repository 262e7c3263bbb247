#include "net/tls_trust_question.h"

#include "common/user_prompt.h"

bool AskToTrustCertificate(UserPrompt& prompt, const TlsRefusal& refusal, TlsConfiguration& configuration) {
    const TTlsPeerInfo& peer = refusal.peer;
    if (!peer.hasCertificate())
        return false;
    const CertificateQuestion question{refusal.hostPort, peer.verifyError, peer.subject, peer.issuer,
                                       peer.notBefore,   peer.notAfter,    peer.sha256};
    switch (prompt.trustCertificate(question)) {
    case CertificateAnswer::Always:
        return configuration.TrustAlways(refusal.hostPort, peer.sha256);
    case CertificateAnswer::Once:
        return configuration.Trust(refusal.hostPort, peer.sha256);
    case CertificateAnswer::No:
        break;
    }
    return false;
}

bool TlsTrustQuestions::AskAll(UserPrompt& prompt) {
    bool refused = false;
    // A question lets the event loop run: connections failing meanwhile note theirs, and
    // the next round takes them (a certificate trusted meanwhile is no longer among them).
    for (QList<TlsRefusal> open = m_configuration.TakeRefusals(); !open.isEmpty();
         open = m_configuration.TakeRefusals()) {
        for (const TlsRefusal& refusal : open)
            refused |= !ask(prompt, refusal);
    }
    return refused;
}

TlsTrustQuestions::Verdict TlsTrustQuestions::AskAbout(UserPrompt& prompt, const QString& hostPort) {
    const std::optional<TlsRefusal> refusal = m_configuration.TakeRefusal(hostPort);
    if (!refusal)
        return Verdict::NothingRefused;
    return ask(prompt, *refusal) ? Verdict::Trusted : Verdict::Refused;
}

bool TlsTrustQuestions::ask(UserPrompt& prompt, const TlsRefusal& refusal) {
    const QString key = refusal.hostPort + ' ' + refusal.peer.sha256;
    if (m_declined.contains(key) || !AskToTrustCertificate(prompt, refusal, m_configuration)) {
        m_declined.insert(key);
        return false;
    }
    return true;
}
