#include "net/tls_channel.h"

#include "net/tls_error.h"
#include "net/tls_openssl.h"

#include <QHostAddress>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

// The receive side holds several records, so one kernel read feeds many decryptions;
// the send side about four full records per kernel write.
constexpr size_t InBufferSize = 256 * 1024;
constexpr size_t OutBufferSize = 64 * 1024;

int channelIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

QString nameText(const X509_NAME* name) {
    BIO* mem = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(mem, name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long len = BIO_get_mem_data(mem, &data);
    const QString text = QString::fromUtf8(data, int(len));
    BIO_free(mem);
    return text;
}

QDateTime timeOf(const ASN1_TIME* t) {
    tm parts{};
    if (!t || ASN1_TIME_to_tm(t, &parts) != 1)
        return {};
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

QString fingerprintOf(const X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (X509_digest(cert, EVP_sha256(), md, &len) != 1)
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(md), int(len)).toHex(':').toUpper());
}

} // namespace

QString TakeOpenSslReason() {
    const unsigned long first = ERR_get_error();
    ERR_clear_error();
    if (first == 0)
        return {};
    const char* reason = ERR_reason_error_string(first);
    return reason ? QString::fromLatin1(reason) : QStringLiteral("error %1").arg(ERR_GET_REASON(first));
}

int TlsVerifyCallback(int preverifyOk, X509_STORE_CTX* store) {
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    TlsChannel* channel = ssl ? TlsChannel::of(ssl) : nullptr;
    if (!channel)
        return preverifyOk;
    return channel->verify(preverifyOk, X509_STORE_CTX_get0_cert(store), X509_STORE_CTX_get_error(store));
}

TlsChannel* TlsChannel::of(SSL* ssl) { return static_cast<TlsChannel*>(SSL_get_ex_data(ssl, channelIndex())); }

TlsChannel::TlsChannel(std::shared_ptr<TTlsContext> context, const QString& serverName, const QString& hostPort,
                       SSL_SESSION* resume)
    : m_context(std::move(context)), m_serverName(serverName), m_hostPort(hostPort) {
    ERR_clear_error();
    m_ssl = SSL_new(m_context->Handle());
    BIO* inner = nullptr;
    if (!m_ssl || BIO_new_bio_pair(&inner, OutBufferSize, &m_net, InBufferSize) != 1) {
        fail(TLS_ERR_HANDSHAKE, TakeOpenSslReason());
        return;
    }
    SSL_set_bio(m_ssl, inner, inner);
    SSL_set_ex_data(m_ssl, channelIndex(), this);
    const QByteArray name = serverName.toUtf8();
    QHostAddress numeric;
    if (numeric.setAddress(serverName)) {
        // An address is checked against the certificate's IP entries and never sent as
        // a server name (SNI carries host names only).
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), name.constData());
    } else if (!name.isEmpty()) {
        SSL_set_tlsext_host_name(m_ssl, name.constData());
        SSL_set1_host(m_ssl, name.constData());
    }
    if (resume)
        SSL_set_session(m_ssl, resume);
    // A write that must wait for room is retried with the same bytes from another buffer
    // (the send queue's copy), which OpenSSL allows only when told.
    SSL_set_mode(m_ssl, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_set_connect_state(m_ssl);
}

TlsChannel::~TlsChannel() {
    X509_free(m_leaf);
    SSL_free(m_ssl); // frees OpenSSL's end of the pair
    BIO_free(m_net);
}

TlsChannel::Result TlsChannel::handshake() {
    if (failed())
        return Result::Failed;
    if (m_established)
        return Result::Done;
    ERR_clear_error();
    const int ret = SSL_do_handshake(m_ssl);
    if (ret == 1) {
        m_established = true;
        collectPeer();
        return Result::Done;
    }
    return afterError(ret, true);
}

TlsChannel::Result TlsChannel::read(char* buffer, qint64 size, qint64& got) {
    got = 0;
    if (failed())
        return Result::Failed;
    if (m_closeNotify)
        return Result::Closed;
    ERR_clear_error();
    size_t n = 0;
    const int ret = SSL_read_ex(m_ssl, buffer, size_t(std::max<qint64>(0, size)), &n);
    if (ret == 1) {
        got = qint64(n);
        return Result::Done;
    }
    return afterError(ret, false);
}

TlsChannel::Result TlsChannel::peek() {
    if (failed())
        return Result::Failed;
    if (m_closeNotify)
        return Result::Closed;
    ERR_clear_error();
    char c;
    size_t n = 0;
    const int ret = SSL_peek_ex(m_ssl, &c, 1, &n);
    return ret == 1 ? Result::Done : afterError(ret, false);
}

TlsChannel::Result TlsChannel::write(const char* data, qint64 size) {
    if (failed())
        return Result::Failed;
    ERR_clear_error();
    size_t n = 0;
    const int ret = SSL_write_ex(m_ssl, data, size_t(size), &n);
    return ret == 1 ? Result::Done : afterError(ret, false);
}

void TlsChannel::shutdown() {
    if (!m_established || failed())
        return;
    ERR_clear_error();
    SSL_shutdown(m_ssl);
    ERR_clear_error();
}

TlsChannel::Result TlsChannel::afterError(int ret, bool handshaking) {
    const int code = SSL_get_error(m_ssl, ret);
    switch (code) {
    case SSL_ERROR_WANT_READ: return Result::WantRead;
    case SSL_ERROR_WANT_WRITE: return Result::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        ERR_clear_error();
        m_closeNotify = true;
        return Result::Closed;
    default: break;
    }
    const unsigned long first = ERR_peek_error();
    const bool unexpectedEof = ERR_GET_REASON(first) == SSL_R_UNEXPECTED_EOF_WHILE_READING ||
                               (code == SSL_ERROR_SYSCALL && first == 0);
    if (!handshaking && m_eof && unexpectedEof) {
        // The peer closed without close_notify: an end of data, not a failure of the
        // session; whoever expected more bytes judges it.
        ERR_clear_error();
        return Result::Eof;
    }
    QString reason = TakeOpenSslReason();
    if (reason.isEmpty())
        reason = m_eof ? QStringLiteral("connection closed by the server") : QStringLiteral("protocol error");
    if (handshaking && m_verifyRefused)
        fail(TLS_ERR_CERTIFICATE, m_verifyError);
    else
        fail(handshaking ? TLS_ERR_HANDSHAKE : TLS_ERR_CONNECTION, reason);
    return Result::Failed;
}

void TlsChannel::failWith(int errorNumber, const QString& reason) { fail(errorNumber, reason); }

void TlsChannel::fail(int errorNumber, const QString& reason) {
    if (failed())
        return;
    m_errorNumber = errorNumber;
    if (errorNumber == TLS_ERR_CERTIFICATE)
        m_errorText = QStringLiteral("Certificate of %1 not trusted: %2").arg(m_hostPort, reason);
    else if (errorNumber == TLS_ERR_CONNECTION)
        m_errorText = QStringLiteral("TLS connection with %1 failed: %2").arg(m_hostPort, reason);
    else
        m_errorText = QStringLiteral("TLS handshake with %1 failed: %2").arg(m_hostPort, reason);
    collectPeer();
}

int TlsChannel::verify(int preverifyOk, X509* leaf, int error) {
    if (leaf && !m_leaf) {
        X509_up_ref(leaf);
        m_leaf = leaf;
    }
    if (preverifyOk)
        return 1;
    if (m_verifyError.isEmpty())
        m_verifyError = QString::fromLatin1(X509_verify_cert_error_string(error));
    if (m_context->Options().insecure)
        return 1;
    if (leaf && m_context->IsFingerprintTrusted(m_hostPort, fingerprintOf(leaf))) {
        m_peer.trustedByFingerprint = true;
        return 1;
    }
    m_verifyRefused = true;
    return 0;
}

void TlsChannel::collectPeer() {
    if (!m_ssl)
        return;
    const X509* cert = SSL_get0_peer_certificate(m_ssl);
    if (!cert)
        cert = m_leaf;
    if (cert) {
        m_peer.subject = nameText(X509_get_subject_name(cert));
        m_peer.issuer = nameText(X509_get_issuer_name(cert));
        m_peer.notBefore = timeOf(X509_get0_notBefore(cert));
        m_peer.notAfter = timeOf(X509_get0_notAfter(cert));
        m_peer.sha256 = fingerprintOf(cert);
    }
    m_peer.verifyError = m_verifyError;
    if (m_established) {
        m_peer.protocol = QString::fromLatin1(SSL_get_version(m_ssl));
        m_peer.cipher = QString::fromLatin1(SSL_get_cipher_name(m_ssl));
        m_peer.sessionReused = SSL_session_reused(m_ssl) == 1;
        // A resumed session sends no certificate; its verdict is the one stored with it.
        if (m_peer.sessionReused && m_verifyError.isEmpty()) {
            const long result = SSL_get_verify_result(m_ssl);
            if (result != X509_V_OK)
                m_peer.verifyError = QString::fromLatin1(X509_verify_cert_error_string(result));
        }
    }
}

char* TlsChannel::inRoom(qint64& room) {
    char* p = nullptr;
    const int n = m_net && !m_eof ? BIO_nwrite0(m_net, &p) : 0;
    room = n > 0 ? n : 0;
    return p;
}

void TlsChannel::inCommit(qint64 count) {
    char* p = nullptr;
    BIO_nwrite(m_net, &p, int(count));
}

void TlsChannel::inEof() {
    if (m_eof || !m_net)
        return;
    m_eof = true;
    BIO_shutdown_wr(m_net);
}

const char* TlsChannel::outData(qint64& length) {
    char* p = nullptr;
    const int n = m_net ? BIO_nread0(m_net, &p) : 0;
    length = n > 0 ? n : 0;
    return p;
}

void TlsChannel::outConsume(qint64 count) {
    char* p = nullptr;
    BIO_nread(m_net, &p, int(count));
}

qint64 TlsChannel::outPending() const { return m_net ? qint64(BIO_ctrl_pending(m_net)) : 0; }

qint64 TlsChannel::inPending() const { return m_net ? qint64(BIO_ctrl_wpending(m_net)) : 0; }

qint64 TlsChannel::plainPending() const { return m_ssl ? SSL_pending(m_ssl) : 0; }

SSL_SESSION* TlsChannel::takeSession() const { return m_ssl && m_established ? SSL_get1_session(m_ssl) : nullptr; }
