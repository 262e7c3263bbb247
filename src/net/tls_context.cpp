#include "net/tls_context.h"

#include "net/async_socket.h"
#include "net/tls_openssl.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cctype>

std::shared_ptr<TTlsContext> TTlsContext::Create(const TTlsOptions& options) {
    std::shared_ptr<TTlsContext> context(new TTlsContext(options));
    if (!context->m_ctx)
        throw ESocketException(QStringLiteral("Cannot set up TLS: ") + TakeOpenSslReason());
    if (options.caFile.isEmpty())
        return context;
    // OpenSSL names a missing file only by its errno: the system's words are clearer.
    if (QFile file(options.caFile); !file.open(QIODevice::ReadOnly))
        throw ESocketException(QStringLiteral("Cannot read the CA file ") + options.caFile + QStringLiteral(": ") +
                               file.errorString());
    if (SSL_CTX_load_verify_locations(context->m_ctx, QFile::encodeName(options.caFile).constData(), nullptr) != 1)
        throw ESocketException(QStringLiteral("Cannot read the CA file ") + options.caFile + QStringLiteral(": ") +
                               TakeOpenSslReason());
    return context;
}

std::shared_ptr<TTlsContext> TTlsContext::Default() {
    static const std::shared_ptr<TTlsContext> context = Create();
    return context;
}

TTlsContext::TTlsContext(const TTlsOptions& options) : m_options(options) {
    ERR_clear_error();
    m_ctx = SSL_CTX_new(TLS_client_method());
    if (!m_ctx)
        return;
    SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
    // A renegotiation would make a write wait for a read; no server we talk to needs one.
    SSL_CTX_set_options(m_ctx, SSL_OP_NO_RENEGOTIATION);
    // A missing system store is not fatal here: verification then refuses every server
    // and says so, and --cacert or a trusted fingerprint still work.
    SSL_CTX_set_default_verify_paths(m_ctx);
    ERR_clear_error();
    SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, TlsVerifyCallback);
}

TTlsContext::~TTlsContext() { SSL_CTX_free(m_ctx); }

QString TTlsContext::NormalizeFingerprint(const QString& sha256) {
    QString hex;
    for (const QChar c : sha256) {
        if (c == ':' || c.isSpace())
            continue;
        if (c.unicode() > 0x7f || !isxdigit(c.toLatin1()))
            return {};
        hex += c.toUpper();
    }
    if (hex.size() != 64)
        return {};
    QString out;
    for (int i = 0; i < hex.size(); i += 2) {
        if (i)
            out += ':';
        out += hex.mid(i, 2);
    }
    return out;
}

bool TTlsContext::TrustFingerprint(const QString& hostPort, const QString& sha256) {
    const QString fp = NormalizeFingerprint(sha256);
    if (fp.isEmpty())
        return false;
    m_trusted[hostPort.toLower()].insert(fp);
    return true;
}

bool TTlsContext::IsFingerprintTrusted(const QString& hostPort, const QString& sha256) const {
    const QString fp = NormalizeFingerprint(sha256);
    if (fp.isEmpty())
        return false;
    for (const QString& key : {hostPort.toLower(), QString()}) {
        const auto it = m_trusted.constFind(key);
        if (it != m_trusted.constEnd() && it->contains(fp))
            return true;
    }
    return false;
}
