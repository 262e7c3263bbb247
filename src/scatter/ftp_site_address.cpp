#include "scatter/ftp_site_address.h"

namespace {

const QString kFtpService = QStringLiteral("ftp");

bool isPort(const QString& text) {
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const int port = text.toInt();
    return port >= 1 && port <= 65535;
}

}  // namespace

FtpSiteAddress SplitFtpSite(const QString& ftpSite) {
    const QString site = ftpSite.trimmed();
    if (site.startsWith('[')) {
        const qsizetype close = site.indexOf(']');
        if (close > 0) {
            const QString rest = site.mid(close + 1);
            if (rest.isEmpty())
                return {site.mid(1, close - 1), kFtpService};
            if (rest.startsWith(':') && isPort(rest.mid(1)))
                return {site.mid(1, close - 1), rest.mid(1)};
        }
        return {site, kFtpService};
    }
    const qsizetype colon = site.indexOf(':');
    if (colon > 0 && colon == site.lastIndexOf(':') && isPort(site.mid(colon + 1)))
        return {site.left(colon), site.mid(colon + 1)};
    return {site, kFtpService};
}
