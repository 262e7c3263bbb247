// Turning Addr, Port and Proto texts into numbers for Connect, Listen and binding.
#include "net/async_socket.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>

namespace {

// Protocols every installation knows, so a machine without /etc/protocols still works.
int knownProtocol(const QString& name) {
    if (name.compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0)
        return IPPROTO_TCP;
    if (name.compare(QLatin1String("udp"), Qt::CaseInsensitive) == 0)
        return IPPROTO_UDP;
    return -1;
}

// Services the clients name, for a machine without /etc/services.
int knownService(const QString& name) {
    static const struct {
        const char* name;
        int port;
    } services[] = {{"ftp", 21}, {"ftp-data", 20}, {"http", 80}, {"www", 80}, {"https", 443}};
    for (const auto& s : services)
        if (name.compare(QLatin1String(s.name), Qt::CaseInsensitive) == 0)
            return s.port;
    return -1;
}

// The leading decimal digits of a text (after blanks), as the clients have always
// read port and protocol numbers; -1 when the value does not fit 16 bits.
int leadingNumber(const QString& text) {
    qint64 value = 0;
    for (QChar c : text.trimmed()) {
        if (!c.isDigit())
            break;
        value = value * 10 + c.digitValue();
        if (value > 65535)
            return -1;
    }
    return int(value);
}

} // namespace

bool TAsyncSocket::IsDottedAddress(const QString& text) {
    const QString t = text.trimmed();
    int groups = 0;
    int digits = 0;
    int value = 0;
    for (int i = 0; i <= t.size(); ++i) {
        if (i == t.size() || t[i] == QLatin1Char('.')) {
            // No dot first, a digit after every dot, and every group at most 255.
            if (digits == 0 || value > 255)
                return false;
            ++groups;
            digits = 0;
            value = 0;
            continue;
        }
        if (!t[i].isDigit() || t[i].unicode() > 127)
            return false;
        value = value * 10 + t[i].digitValue();
        if (++digits > 3)
            return false;
    }
    return groups == 4;
}

std::vector<TSocketAddress> TAsyncSocket::SocketResolveHostAddresses(const QString& host) {
    if (host.isEmpty() || host.size() > 256)
        throw ESocketException(QStringLiteral("SocketResolveHost: '") + host + QStringLiteral("' Invalid Hostname."));
    const QString h = host.trimmed();
    if (IsDottedAddress(h)) {
        // Groups are read as decimal (never octal), as the text shows them.
        quint32 addr = 0;
        for (const QString& g : h.split(QLatin1Char('.')))
            addr = (addr << 8) | quint32(g.toUInt());
        return {TSocketAddress::fromIPv4(htonl(addr))};
    }
    if (const std::optional<TSocketAddress> v6 = TSocketAddress::fromIPv6Text(h))
        return {*v6};
    std::vector<TSocketAddress> found;
    const QStringList fixed = ResolveOverride(h);
    for (const QString& a : fixed)
        for (const TSocketAddress& numeric : SocketResolveHostAddresses(a))
            found.push_back(numeric);
    if (!fixed.isEmpty())
        return found;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const QByteArray name = h.toUtf8();
    if (getaddrinfo(name.constData(), nullptr, &hints, &list) == 0)
        for (const addrinfo* i = list; i; i = i->ai_next)
            if (const TSocketAddress a = TSocketAddress::fromPlatform(i->ai_addr, i->ai_addrlen); a.isValid())
                found.push_back(a);
    if (list)
        freeaddrinfo(list);
    if (found.empty())
        throw ESocketException(QStringLiteral("SocketResolveHost: Cannot convert host address '%1'").arg(host));
    return found;
}

in_addr_t TAsyncSocket::SocketResolveHost(const QString& host) {
    for (const TSocketAddress& a : SocketResolveHostAddresses(host))
        if (a.family() == AF_INET)
            return a.ipv4();
    throw ESocketException(QStringLiteral("SocketResolveHost: Cannot convert host address '%1'").arg(host));
}

quint16 TAsyncSocket::SocketResolvePort(const QString& port, const QString& proto) {
    if (port.isEmpty() || port.size() >= 32)
        throw ESocketException(QStringLiteral("SocketResolvePort: Invalid Port."));
    const QString p = port.trimmed();
    if (!p.isEmpty() && p[0].isDigit()) {
        const int value = leadingNumber(p);
        // A number beyond 65535 would silently wrap to another port.
        if (value < 0)
            throw ESocketException(QStringLiteral("SocketResolvePort: Invalid Port."));
        return quint16(value);
    }
    const QByteArray name = p.toLatin1();
    const QByteArray protoName = proto.toLatin1();
    if (const servent* s = getservbyname(name.constData(), protoName.constData()))
        return ntohs(quint16(s->s_port));
    const int known = knownService(p);
    if (known < 0)
        throw ESocketException(QStringLiteral("SocketResolvePort: Cannot convert port '%1'").arg(port));
    return quint16(known);
}

int TAsyncSocket::SocketResolveProto(const QString& proto) {
    if (proto.isEmpty() || proto.size() >= 32)
        throw ESocketException(QStringLiteral("SocketResolveProto: Invalid Protocol."));
    const QString p = proto.trimmed();
    if (!p.isEmpty() && p[0].isDigit()) {
        const int value = leadingNumber(p);
        if (value < 0 || value > 255)
            throw ESocketException(QStringLiteral("SocketResolveProto: Invalid Protocol."));
        return value;
    }
    const int known = knownProtocol(p);
    if (known >= 0)
        return known;
    const QByteArray name = p.toLatin1();
    if (const protoent* e = getprotobyname(name.constData()))
        return e->p_proto;
    throw ESocketException(QStringLiteral("SocketResolveProto: Cannot convert protocol '%1'").arg(proto));
}
