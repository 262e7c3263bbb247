#include "http/http_request.h"

#include "net/socket_address.h"

namespace {

QString basicCredentials(const QString& user, const QString& password) {
    return QStringLiteral("Basic ") + QString::fromLatin1((user + ':' + password).toUtf8().toBase64());
}

}  // namespace

QString HttpAuthority(const QString& host, const QString& port, quint16 defaultPort) {
    const QString name = BracketedHost(host);
    // A service name ("http") stays out: the field wants a number.
    bool isNumber = false;
    const uint number = port.toUInt(&isNumber);
    return !isNumber || number == defaultPort ? name : name + ':' + QString::number(number);
}

bool IsHttpsScheme(const QString& scheme) { return scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0; }

quint16 HttpDefaultPort(const QString& scheme) { return IsHttpsScheme(scheme) ? 443 : 80; }

QString HttpDateText(const QDateTime& when) {
    static const char kDays[] = "MonTueWedThuFriSatSun";
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const QDate date = when.date();
    const QTime time = when.time();
    const QString day = QString::fromLatin1(kDays + 3 * (date.dayOfWeek() - 1), 3);
    const QString month = QString::fromLatin1(kMonths + 3 * (date.month() - 1), 3);
    return QString::asprintf("%s, %2.2d %s %4.4d %2.2d:%2.2d:%2.2d GMT", qPrintable(day), date.day(),
                             qPrintable(month), date.year(), time.hour(), time.minute(), time.second());
}

QStringList BuildHttpRequestLines(const HttpRequestHeaderInput& in) {
    const bool post = in.method == QLatin1String("POST");
    QStringList lines;
    lines << in.method + ' ' + in.requestPath + QStringLiteral(" HTTP/1.0");
    if (!in.sender.isEmpty())
        lines << QStringLiteral("From: ") + in.sender;
    if (!in.accept.isEmpty())
        lines << QStringLiteral("Accept: ") + in.accept;
    if (!in.reference.isEmpty())
        lines << QStringLiteral("Referer: ") + in.reference;
    if (post && !in.contentTypePost.isEmpty())
        lines << QStringLiteral("Content-Type: ") + in.contentTypePost;
    if (!in.agent.isEmpty())
        lines << QStringLiteral("User-Agent: ") + in.agent;
    lines << QStringLiteral("Host: ") + HttpAuthority(in.targetHost, in.targetPort, in.defaultPort);
    if (in.noCache)
        lines << QStringLiteral("Pragma: no-cache");
    if (post)
        lines << QStringLiteral("Content-Length: ") + QString::number(qMax<qint64>(in.postSize, 0));
    if (in.modifiedSince.isValid())
        lines << QStringLiteral("If-Modified-Since: ") + HttpDateText(in.modifiedSince);
    if (!in.username.isEmpty())
        lines << QStringLiteral("Authorization: ") + basicCredentials(in.username, in.password);
    if (in.viaProxy && !in.proxyUsername.isEmpty())
        lines << QStringLiteral("Proxy-Authorization: ") + basicCredentials(in.proxyUsername, in.proxyPassword);
    if (!in.cookie.isEmpty())
        lines << QStringLiteral("Cookie: ") + in.cookie;
    if (!in.rangeBegin.isEmpty() || !in.rangeEnd.isEmpty())
        lines << QStringLiteral("Range: bytes=") + in.rangeBegin + '-' + in.rangeEnd;
    return lines;
}
