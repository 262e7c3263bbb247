#include "scatter/upload_settings.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

int doublingWait(int failures, int first, int longestWanted) {
    const int longest = std::max({longestWanted, first, 0});
    int wait = std::max(first, 0);
    // Doubling stops at the longest wait, so no count of failures can overflow it.
    for (int i = 1; i < failures && wait < longest; ++i)
        wait = std::min(longest, std::max(wait, 1) * 2);
    return std::min(wait, longest);
}

}  // namespace

int RetryWaitMs(int failures, const UploadSettings& settings) {
    return doublingWait(failures, settings.firstRetryWaitMs, settings.longestRetryWaitMs);
}

int BusyWaitMs(int failures, const UploadSettings& settings) {
    return doublingWait(failures, settings.firstBusyWaitMs, settings.longestBusyWaitMs);
}

// vsftpd says "421 There are too many connections from your internet address", others
// "530 Sorry, the maximum number of clients (5) from your host are already connected".
bool IsBusyRefusal(int statusCode, const QString& reply) {
    if (statusCode == 421)
        return true;
    static const QRegularExpression busy(
        QStringLiteral("too many|maximum number|limit of|already (logged|connected)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression what(QStringLiteral("connect|user|client|session|login|logged"),
                                         QRegularExpression::CaseInsensitiveOption);
    return statusCode == 530 && reply.contains(busy) && reply.contains(what);
}
