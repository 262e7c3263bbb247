#include "net/tls_configuration.h"

#include "net/async_socket.h"

TlsConfiguration& TlsConfiguration::Shared() {
    static TlsConfiguration configuration;
    return configuration;
}

std::shared_ptr<TTlsContext> TlsConfiguration::Context() {
    if (!m_context)
        SetOptions(m_options);
    return m_context;
}

void TlsConfiguration::SetOptions(const TTlsOptions& options) {
    std::shared_ptr<TTlsContext> context = TTlsContext::Create(options);
    for (const auto& [hostPort, sha256] : m_trusted)
        context->TrustFingerprint(hostPort, sha256);
    m_context = std::move(context);
    m_options = options;
}

bool TlsConfiguration::Trust(const QString& hostPort, const QString& sha256) {
    if (!Context()->TrustFingerprint(hostPort, sha256))
        return false;
    m_trusted.append({hostPort, sha256});
    return true;
}

bool TlsConfiguration::TrustAlways(const QString& hostPort, const QString& sha256) {
    if (!Trust(hostPort, sha256))
        return false;
    if (onTrustedAlways)
        onTrustedAlways(hostPort, TTlsContext::NormalizeFingerprint(sha256));
    return true;
}

void TlsConfiguration::NoteRefusal(const TAsyncSocket& socket) {
    TlsRefusal refusal{socket.TlsHostPort(), socket.TlsPeer(), socket.TlsErrorText()};
    for (qsizetype i = 0; i < m_refusals.size(); ++i) {
        if (m_refusals[i].hostPort == refusal.hostPort) {
            m_refusals[i] = refusal;
            return;
        }
    }
    m_refusals.append(refusal);
}

QList<TlsRefusal> TlsConfiguration::TakeRefusals() {
    QList<TlsRefusal> open;
    for (const TlsRefusal& r : std::as_const(m_refusals))
        if (!Context()->IsFingerprintTrusted(r.hostPort, r.peer.sha256))
            open.append(r);
    m_refusals.clear();
    return open;
}

std::optional<TlsRefusal> TlsConfiguration::TakeRefusal(const QString& hostPort) {
    for (qsizetype i = 0; i < m_refusals.size(); ++i) {
        if (m_refusals[i].hostPort != hostPort)
            continue;
        const TlsRefusal refusal = m_refusals.takeAt(i);
        if (Context()->IsFingerprintTrusted(refusal.hostPort, refusal.peer.sha256))
            return std::nullopt;
        return refusal;
    }
    return std::nullopt;
}

void TlsConfiguration::Reset() {
    m_options = TTlsOptions();
    m_context.reset();
    m_trusted.clear();
    m_refusals.clear();
    onTrustedAlways = nullptr;
}
