#include "net/tls_peer_info.h"

QString TlsSessionSummary(const TTlsPeerInfo& peer) {
    QString text = peer.protocol + QStringLiteral(", ") + peer.cipher;
    // A resumed session presented no certificate: what was said of it was said before.
    if (peer.sessionReused)
        text += QStringLiteral(", session resumed");
    else if (peer.trustedByFingerprint)
        text += QStringLiteral(", certificate trusted by its fingerprint");
    else if (!peer.verifyError.isEmpty())
        text += QStringLiteral(", certificate not verified (") + peer.verifyError + ')';
    return text;
}
