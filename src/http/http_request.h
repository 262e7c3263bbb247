#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Everything the request header of one HTTP/1.0 request is built from.
struct HttpRequestHeaderInput {
    QString method;       // "GET", "POST" or "HEAD"
    QString requestPath;  // the request target: a path, or an absolute URL through a proxy
    QString sender;
    QString accept;
    QString reference;
    QString contentTypePost;
    QString agent;
    QString targetHost;
    QString targetPort;  // empty: the default port
    quint16 defaultPort = 80;  // of the target's scheme: 443 for https
    bool noCache = false;
    qint64 postSize = -1;     // the size of the body to post; -1 for GET and HEAD
    QDateTime modifiedSince;  // not valid: no If-Modified-Since field
    QString username;
    QString password;
    bool viaProxy = false;
    QString proxyUsername;
    QString proxyPassword;
    QString cookie;
    QString rangeBegin;
    QString rangeEnd;
};

// The header lines in the order they are sent, without line ends and without the
// closing empty line (the client fires its events between them).
QStringList BuildHttpRequestLines(const HttpRequestHeaderInput& in);

// "host", or "host:port" when the port is not the scheme's default one (80, or 443 for
// https); an IPv6 address in brackets ("[::1]:8080"). The Host field and the text of a relocated URL both take this form: a server
// builds the address of a relocation from the Host field, so a missing port sends the
// client to another server.
QString HttpAuthority(const QString& host, const QString& port, quint16 defaultPort = 80);

// True for "https" in any case: the scheme spoken over TLS.
bool IsHttpsScheme(const QString& scheme);
// The port a URL of the scheme means when it names none: 443 for https, else 80.
quint16 HttpDefaultPort(const QString& scheme);

// A date as the If-Modified-Since field writes it: "Sun, 06 Nov 1994 08:49:37 GMT".
// The value is written as it stands: no time-zone conversion.
QString HttpDateText(const QDateTime& when);
