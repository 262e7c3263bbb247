#include "http/parse_url.h"

#include <arpa/inet.h>

namespace {

bool isIPv6Address(const QString& text) {
    in6_addr parsed{};
    return !text.isEmpty() && inet_pton(AF_INET6, text.toLatin1().constData(), &parsed) == 1;
}

// "[2001:db8::1]" or "[2001:db8::1]:8080" (RFC 3986). Anything else after a "[" leaves
// the host empty, so the caller's empty-host error refuses the URL: a bracket never
// closed, text after it, no IPv6 address inside, or a zone ("%25eth0"), which names an
// interface of the machine that wrote the URL and means nothing to the one reading it.
void splitBracketed(const QString& hostPort, ParsedUrl& out) {
    const qsizetype close = hostPort.indexOf(']');
    if (close < 0)
        return;
    const QString address = hostPort.mid(1, close - 1);
    const QString rest = hostPort.mid(close + 1);
    if ((!rest.isEmpty() && !rest.startsWith(':')) || !isIPv6Address(address))
        return;
    out.host = address;
    out.port = rest.mid(1);
}

// Splits "user:password@host:port" (any part optional) into the result.
void splitAuthority(const QString& authority, ParsedUrl& out) {
    const qsizetype at = authority.lastIndexOf('@');
    // A colon inside the user part (before the "@") is not a port separator.
    const QString hostPort = authority.mid(at + 1);
    const qsizetype colon = hostPort.lastIndexOf(':');
    if (hostPort.startsWith('[')) {
        splitBracketed(hostPort, out);
    } else if (colon < 0) {
        out.host = hostPort;
    } else {
        out.port = hostPort.mid(colon + 1);
        out.host = hostPort.left(colon);
    }
    if (at >= 0) {
        const QString credentials = authority.left(at);
        const qsizetype split = credentials.indexOf(':');
        if (split < 0) {
            out.user = credentials;
        } else {
            out.user = credentials.left(split);
            out.password = credentials.mid(split + 1);
        }
    }
}

}  // namespace

ParsedUrl ParseURL(const QString& url) {
    ParsedUrl out;
    if (url.isEmpty())
        return out;

    QString rest;
    const qsizetype schemeEnd = url.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        out.scheme = url.left(schemeEnd);
        rest = url.mid(schemeEnd + 3);
    } else if (url.startsWith(QLatin1String("//"))) {
        // A network-path reference ("//host/path", as a relocation may give): host and
        // path as after a scheme, the scheme left to the caller.
        rest = url.mid(2);
    } else if (url.startsWith('/')) {
        out.scheme = QStringLiteral("http");
        out.path = url;
        return out;
    } else if (url.left(5).toLower() == QLatin1String("http:")) {
        out.scheme = QStringLiteral("http");
        // "http:/x" and "http:x/y" carry a path straight after the colon.
        if (url.size() > 6 && url.at(6) != '/') {
            out.path = url.mid(5);
            return out;
        }
        rest = url.mid(6);
    } else if (url.left(7).toLower() == QLatin1String("mailto:")) {
        out.scheme = QStringLiteral("mailto");
        rest = url.mid(url.indexOf(':') + 1);
    } else {
        rest = url;
    }

    const qsizetype slash = rest.indexOf('/');
    if (slash >= 0) {
        out.path = rest.mid(slash);
        splitAuthority(rest.left(slash), out);
    } else {
        splitAuthority(rest, out);
    }
    return out;
}

QString UriScheme(const QString& text) {
    const auto isLetter = [](QChar c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (text.isEmpty() || !isLetter(text.at(0)))
        return QString();
    for (qsizetype i = 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == ':')
            return text.left(i);
        if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return QString();
    }
    return QString();
}
