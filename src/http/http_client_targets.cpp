// THttpClient: where a request connects, what it asks for, and where a relocation
// sends it next.
#include "http/http_client.h"

#include "http/http_request.h"
#include "http/parse_url.h"
#include "net/async_socket.h"

namespace {

// The host and port of an absolute URL as a proxy is asked for it.
QString urlAuthority(const ParsedUrl& url) {
    return url.port.isEmpty() ? BracketedHost(url.host) : HostPortText(url.host, url.port);
}

// HTTP, and HTTP over TLS; a URL without a scheme is taken as HTTP.
bool isSpokenScheme(const QString& scheme) {
    return scheme.isEmpty() || scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
           IsHttpsScheme(scheme);
}

}  // namespace

QString THttpClient::refusedSchemeText() const {
    return QStringLiteral("unsupported URL scheme \"") + m_refusedScheme + '"';
}

void THttpClient::setTargets() {
    const ParsedUrl url = ParseURL(m_url);
    m_targetHost = url.host;
    m_targetPort = url.port;
    m_targetDefaultPort = HttpDefaultPort(url.scheme);
    if (!url.user.isEmpty())
        m_username = url.user;
    if (!url.password.isEmpty())
        m_password = url.password;
    QString docPath = url.path;
    if (m_proxy.isEmpty()) {
        // A proxy may know other schemes; a direct connection speaks HTTP and HTTPS.
        if (!isSpokenScheme(url.scheme))
            m_refusedScheme = url.scheme;
        m_tls = IsHttpsScheme(url.scheme);
        m_requestPath = url.path;
        m_connectHost = url.host;
        m_connectPort = url.port.isEmpty() ? QString::number(m_targetDefaultPort) : url.port;
    } else {
        // The proxy fetches an https document for us over its own connection.
        m_tls = false;
        // A proxy takes the absolute URL as the request target.
        m_requestPath = (url.scheme.isEmpty() ? QStringLiteral("http") : url.scheme) + QStringLiteral("://") +
                        urlAuthority(url) + url.path;
        const ParsedUrl proxy = ParseURL(m_proxy);
        m_connectHost = proxy.host;
        m_connectPort = proxy.port.isEmpty() ? m_proxyPort : proxy.port;
    }
    if (m_requestPath.isEmpty())
        m_requestPath = QStringLiteral("/");

    if (docPath.isEmpty() || docPath == QLatin1String("/")) {
        m_docName = QStringLiteral("document.htm");
        return;
    }
    // The query goes first, so that a "/" inside it cannot pass for the last segment.
    docPath = docPath.left(docPath.indexOf('?'));
    if (docPath.endsWith('/'))
        docPath.chop(1);
    m_docName = docPath.mid(docPath.lastIndexOf('/') + 1).left(255);
    if (m_docName.isEmpty())
        m_docName = QStringLiteral("document.htm");
}

void THttpClient::relocate(const QString& value) {
    m_relocationPending = true;
    if (m_proxy.isEmpty()) {
        relocateDirect(value);
        return;
    }
    if (value.startsWith('/')) {
        const ParsedUrl current = ParseURL(m_requestPath);
        m_requestPath = (current.scheme.isEmpty() ? QStringLiteral("http") : current.scheme) + QStringLiteral("://") +
                        urlAuthority(current) + value;
    } else {
        const ParsedUrl url = ParseURL(value);
        m_requestPath = value;
        m_targetHost = url.host;
        m_targetPort = url.port;
    }
    m_location = m_requestPath;
}

// Location carries the port whenever it is not the scheme's default one, or the text
// would name another server; a relative relocation keeps the scheme and the port of the
// server that sent it (a relocation on an https server never drops to plain HTTP by
// leaving the scheme out).
void THttpClient::relocateDirect(const QString& value) {
    const QString current = m_tls ? QStringLiteral("https") : QStringLiteral("http");
    const quint16 currentDefault = HttpDefaultPort(current);
    if (value.startsWith('/')) {
        m_requestPath = value;
        m_location = current + QStringLiteral("://") + HttpAuthority(m_connectHost, m_connectPort, currentDefault) + value;
        return;
    }
    // A scheme without "//" names no server ("data:...", "mailto:x", "javascript:..."),
    // and the split would take it for a host and look it up; only "http:" has a meaning
    // of its own there.
    const QString named = UriScheme(value);
    if (!named.isEmpty() && !QStringView(value).mid(named.size() + 1).startsWith(QLatin1String("//")) &&
        named.compare(QLatin1String("http"), Qt::CaseInsensitive) != 0) {
        m_refusedScheme = named;
        return;
    }
    const ParsedUrl url = ParseURL(value);
    if (!isSpokenScheme(url.scheme)) {
        // Not followed: the header's end refuses it, and nothing of the target changes.
        m_refusedScheme = url.scheme;
        return;
    }
    m_connectHost = url.host;
    m_requestPath = url.path;
    if (!url.port.isEmpty())
        m_connectPort = url.port;
    if (!url.scheme.isEmpty() && !url.host.isEmpty()) {
        m_targetHost = url.host;
        m_tls = IsHttpsScheme(url.scheme);
        m_targetDefaultPort = HttpDefaultPort(url.scheme);
        // Another server without a port is reached on its scheme's default port, not on
        // the port of the server that sent us there.
        if (url.port.isEmpty())
            m_connectPort = QString::number(m_targetDefaultPort);
        m_location = url.scheme + QStringLiteral("://") + HttpAuthority(url.host, url.port, m_targetDefaultPort) + url.path;
        if (url.path.isEmpty())
            m_requestPath = QStringLiteral("/");
        return;
    }
    // Without a host the connection stays as it is, and so does its scheme.
    const QString scheme = url.scheme.isEmpty() ? current : url.scheme;
    if (url.path.isEmpty()) {
        // A bare name ("page.htm"), which the split returns as the host.
        m_location = scheme + QStringLiteral("://") + HttpAuthority(m_targetHost, m_connectPort, currentDefault) + '/' +
                     url.host;
        m_requestPath = '/' + url.host;
        m_connectHost = m_targetHost;
    } else if (url.host.isEmpty()) {
        m_location = scheme + QStringLiteral("://") + HttpAuthority(m_targetHost, m_connectPort, currentDefault) + url.path;
        m_connectHost = m_targetHost;
    } else {
        m_targetHost = url.host;
        m_location = scheme + QStringLiteral("://") + HttpAuthority(url.host, m_connectPort, currentDefault) + url.path;
    }
}

// A relocation that is not followed ends the request: one to a scheme the client cannot
// speak, and one past the limit (a server sending the client round in a loop).
bool THttpClient::refuseRelocation() {
    QString reason;
    quint16 error = 0;
    if (!m_refusedScheme.isEmpty()) {
        reason = refusedSchemeText();
        error = heUnsupportedScheme;
    } else if (m_relocations >= kHttpMaxRelocations) {
        reason = QStringLiteral("more than %1 relocations").arg(kHttpMaxRelocations);
        error = heRelocationLimit;
    } else {
        return false;
    }
    m_relocationPending = false;
    endOnResponseFault(404, reason, error);
    return true;
}
