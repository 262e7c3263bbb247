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

// "host", or "host:port" when the port is not the default one (80). The Host field and
// the text of a relocated URL both take this form: a server builds the address of a
// relocation from the Host field, so a missing port sends the client to another server.
QString HttpAuthority(const QString& host, const QString& port);

// A date as the If-Modified-Since field writes it: "Sun, 06 Nov 1994 08:49:37 GMT".
// The value is written as it stands: no time-zone conversion.
QString HttpDateText(const QDateTime& when);
