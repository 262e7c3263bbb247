#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

// One IPv4 or IPv6 address with a port, as the platform's socket calls take it. A
// default one has no family (AF_UNSPEC) and stands for "none".
class TSocketAddress {
public:
    TSocketAddress() = default;
    // An IPv4 address in network byte order.
    static TSocketAddress fromIPv4(in_addr_t address, quint16 port = 0);
    // What the platform filled in (getsockname, getpeername, recvfrom, getaddrinfo);
    // none for a family other than IPv4 and IPv6.
    static TSocketAddress fromPlatform(const sockaddr* address, socklen_t length);
    // A numeric IPv6 address ("::1", "2001:db8::1", "fe80::1%eth0"), also in brackets
    // ("[::1]"), without a lookup; nothing for any other text.
    static std::optional<TSocketAddress> fromIPv6Text(const QString& text);

    bool isValid() const { return family() == AF_INET || family() == AF_INET6; }
    int family() const { return m_storage.ss_family; }
    bool isIPv6() const { return family() == AF_INET6; }
    const sockaddr* data() const { return reinterpret_cast<const sockaddr*>(&m_storage); }
    sockaddr* data() { return reinterpret_cast<sockaddr*>(&m_storage); }
    socklen_t length() const;
    static constexpr socklen_t capacity() { return sizeof(sockaddr_storage); }

    quint16 port() const;
    void setPort(quint16 port);
    // The IPv4 address in network byte order; 0 for an IPv6 one.
    in_addr_t ipv4() const;
    bool isLoopback() const;
    bool isAny() const;
    // "127.0.0.1", "::1" (an IPv6 zone as "%eth0"); empty for none.
    QString addressText() const;
    // "127.0.0.1:80", "[::1]:80": an address and its port as the error texts show it.
    QString endpointText() const;

private:
    sockaddr_storage m_storage{};
};

// A host as URLs and "host:port" texts write it: an IPv6 address (a host that holds
// colons) in brackets, so that no port can be read out of its last group.
QString BracketedHost(const QString& host);
// "host:port", "[::1]:port".
QString HostPortText(const QString& host, const QString& port);

// The order in which the addresses of one host are tried: the families take turns,
// beginning with the family of the first address; within a family the order given.
std::vector<TSocketAddress> AlternateFamilies(const std::vector<TSocketAddress>& addresses);
