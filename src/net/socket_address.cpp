#include "net/socket_address.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>

TSocketAddress TSocketAddress::fromIPv4(in_addr_t address, quint16 port) {
    TSocketAddress a;
    auto* sin = reinterpret_cast<sockaddr_in*>(&a.m_storage);
    sin->sin_family = AF_INET;
    sin->sin_addr.s_addr = address;
    sin->sin_port = htons(port);
    return a;
}

TSocketAddress TSocketAddress::fromPlatform(const sockaddr* address, socklen_t length) {
    TSocketAddress a;
    if (!address || length > capacity())
        return a;
    if ((address->sa_family == AF_INET && length >= socklen_t(sizeof(sockaddr_in))) ||
        (address->sa_family == AF_INET6 && length >= socklen_t(sizeof(sockaddr_in6))))
        std::memcpy(&a.m_storage, address, length);
    return a;
}

std::optional<TSocketAddress> TSocketAddress::fromIPv6Text(const QString& text) {
    QString t = text.trimmed();
    if (t.startsWith('[') && t.endsWith(']'))
        t = t.mid(1, t.size() - 2);
    if (!t.contains(':'))
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    const QByteArray latin = t.toLatin1();
    if (getaddrinfo(latin.constData(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    const TSocketAddress a = fromPlatform(found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (!a.isValid())
        return std::nullopt;
    return a;
}

socklen_t TSocketAddress::length() const {
    return isIPv6() ? socklen_t(sizeof(sockaddr_in6)) : socklen_t(sizeof(sockaddr_in));
}

quint16 TSocketAddress::port() const {
    if (isIPv6())
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&m_storage)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&m_storage)->sin_port);
}

void TSocketAddress::setPort(quint16 port) {
    if (isIPv6())
        reinterpret_cast<sockaddr_in6*>(&m_storage)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in*>(&m_storage)->sin_port = htons(port);
}

in_addr_t TSocketAddress::ipv4() const {
    return family() == AF_INET ? reinterpret_cast<const sockaddr_in*>(&m_storage)->sin_addr.s_addr : 0;
}

bool TSocketAddress::isLoopback() const {
    if (isIPv6())
        return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(&m_storage)->sin6_addr);
    return family() == AF_INET && ipv4() == htonl(INADDR_LOOPBACK);
}

bool TSocketAddress::isAny() const {
    if (isIPv6())
        return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6*>(&m_storage)->sin6_addr);
    return ipv4() == INADDR_ANY;
}

QString TSocketAddress::addressText() const {
    if (!isValid())
        return QString();
    char text[NI_MAXHOST];
    if (getnameinfo(data(), length(), text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        return QString();
    return QString::fromLatin1(text);
}

QString TSocketAddress::endpointText() const { return HostPortText(addressText(), QString::number(port())); }

QString BracketedHost(const QString& host) { return host.contains(':') ? '[' + host + ']' : host; }

QString HostPortText(const QString& host, const QString& port) { return BracketedHost(host) + ':' + port; }

std::vector<TSocketAddress> AlternateFamilies(const std::vector<TSocketAddress>& addresses) {
    std::vector<TSocketAddress> first, other, order;
    if (addresses.empty())
        return order;
    for (const TSocketAddress& a : addresses)
        (a.family() == addresses.front().family() ? first : other).push_back(a);
    for (size_t i = 0; i < first.size() || i < other.size(); ++i) {
        if (i < first.size())
            order.push_back(first[i]);
        if (i < other.size())
            order.push_back(other[i]);
    }
    return order;
}
