#include "http/parse_url.h"

namespace {

// Splits "user:password@host:port" (any part optional) into the result.
void splitAuthority(const QString& authority, ParsedUrl& out) {
    const qsizetype at = authority.lastIndexOf('@');
    const qsizetype colon = authority.lastIndexOf(':');
    if (at < 0 && colon < 0) {
        out.host = authority;
    } else if (colon > at) {
        // A colon inside the user part (before the "@") is not a port separator.
        out.port = authority.mid(colon + 1);
        out.host = authority.mid(at + 1, colon - at - 1);
    } else {
        out.host = authority.mid(at + 1);
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
