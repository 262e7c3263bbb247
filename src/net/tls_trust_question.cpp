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
