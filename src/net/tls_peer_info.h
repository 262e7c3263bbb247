#pragma once

#include <QDateTime>
#include <QString>

// What a TLS handshake learnt about the server: its certificate (also after a refused
// verification, for the "trust this certificate?" question) and what was negotiated.
struct TTlsPeerInfo {
    QString subject; // RFC 2253 form, "CN=localhost,O=..."
    QString issuer;
    QDateTime notBefore; // UTC
    QDateTime notAfter;
    QString sha256;   // "AB:CD:...", the key of a trusted fingerprint
    QString protocol; // "TLSv1.3"; empty until a handshake succeeded
    QString cipher;   // "TLS_AES_256_GCM_SHA384"
    // OpenSSL's reason for refusing the certificate ("self-signed certificate"), also
    // when the insecure option or a trusted fingerprint accepted it anyway; empty when
    // verification passed.
    QString verifyError;
    bool trustedByFingerprint = false;
    bool sessionReused = false;

    bool hasCertificate() const { return !sha256.isEmpty(); }
};

// "TLSv1.3, TLS_AES_256_GCM_SHA384", and how the server came to be trusted when it was
// not by verification (", certificate trusted by its fingerprint", ", certificate not
// verified (reason)" under the insecure option), or ", session resumed": the line a log
// shows once per connection.
QString TlsSessionSummary(const TTlsPeerInfo& peer);
