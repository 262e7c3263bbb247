#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <memory>

struct ssl_ctx_st;

// What a TLS client trusts. By default: the system's CA store, the host name checked
// against the certificate, TLS 1.2 at least.
struct TTlsOptions {
    QString caFile;        // a PEM file of CAs trusted besides the system store (--cacert)
    bool insecure = false; // accept any certificate (--insecure): nothing is verified
};

// The shared settings of many TLS sockets: OpenSSL's client context (CA store, minimum
// version) and the fingerprints the user decided to trust. Sockets hold it by
// shared_ptr, so one context serves a whole run and a fingerprint trusted once is
// trusted by every later connection of it. Use on one thread only.
class TTlsContext {
public:
    // Throws ESocketException when the CA file cannot be read.
    static std::shared_ptr<TTlsContext> Create(const TTlsOptions& options = {});
    // The context of sockets that were given none: the system's CA store, verification on.
    static std::shared_ptr<TTlsContext> Default();

    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    const TTlsOptions& Options() const { return m_options; }

    // Trusts the certificate with this SHA-256 fingerprint at "host:port", even when
    // verification refuses it (self-signed, issued for another name). The fingerprint is
    // 64 hex digits, with or without colons, any case; false (nothing trusted) otherwise.
    bool TrustFingerprint(const QString& hostPort, const QString& sha256);
    bool IsFingerprintTrusted(const QString& hostPort, const QString& sha256) const;

    // "AB:CD:..." (32 upper-case pairs) for a well-formed fingerprint, else empty.
    static QString NormalizeFingerprint(const QString& sha256);

    ssl_ctx_st* Handle() const { return m_ctx; }

private:
    explicit TTlsContext(const TTlsOptions& options);

    TTlsOptions m_options;
    ssl_ctx_st* m_ctx = nullptr;
    QHash<QString, QSet<QString>> m_trusted;
};
