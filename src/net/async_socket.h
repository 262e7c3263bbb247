#pragma once

#include "common/user_error.h"
#include "net/socket_address.h"
#include "net/socket_error.h"
#include "net/tls_context.h"
#include "net/tls_peer_info.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <netinet/in.h>

class ConnectRace;
class NotificationTarget;
class SocketLookup;
class QSocketNotifier;
class TBuffer;
class TlsChannel;
struct ssl_session_st;

// Misuse of a socket at call time, or a failed platform call when no OnError handler is
// set. Its text is the message shown to the user as it stands.
class ESocketException : public UserError {
public:
    explicit ESocketException(const QString& text) : UserError(text) {}
};

enum TSocketState {
    wsInvalidState, // 0
    wsOpened,       // 1: handle created
    wsBound,        // 2: bound for listening
    wsConnecting,   // 3
    wsConnected,    // 4
    wsAccepting,    // 5: never entered
    wsListening,    // 6
    wsClosed        // 7: a new or closed socket
};

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

class TAsyncSocket;

// Events. The first argument is always the sending socket. Error arguments are Windows
// Sockets numbers (0 = success; see socket_error.h and SocketErrorDesc).
using TDataAvailable = std::function<void(TAsyncSocket* sender, quint16 error)>;
using TDataSent = std::function<void(TAsyncSocket* sender, quint16 error)>;
using TSendData = std::function<void(TAsyncSocket* sender, qint64 bytesSent)>;
using TSessionClosed = std::function<void(TAsyncSocket* sender, quint16 error)>;
using TSessionAvailable = std::function<void(TAsyncSocket* sender, quint16 error)>;
using TSessionConnected = std::function<void(TAsyncSocket* sender, quint16 error)>;
using TTlsHandshakeDone = std::function<void(TAsyncSocket* sender, quint16 error)>;
using TChangeState = std::function<void(TAsyncSocket* sender, TSocketState oldState, TSocketState newState)>;
using TDnsLookupDone = std::function<void(TAsyncSocket* sender, quint16 error)>;
using TNotifyEvent = std::function<void(TAsyncSocket* sender)>;
using TBgExceptionEvent = std::function<void(TAsyncSocket* sender, const std::exception& e, bool& canClose)>;

// The non-blocking TCP/UDP socket under the HTTP and FTP clients. Nothing here waits
// for the network (except SocketResolveHost for a non-numeric Addr, see Connect): each
// lookup, connect, read, write and close ends in an event delivered later by the Qt
// event loop of the creating thread, one at a time, through the socket's notification
// target. There are no locks; use a socket only on its own thread.
//
// Contract for client authors:
//
// * Outgoing stream connection, events in order:
//     OnChangeState(wsClosed->wsOpened), OnChangeState(wsOpened->wsConnecting)
//     -- both inside Connect --
//     later: OnChangeState(->wsConnected), OnSessionConnected(error)
//     then: OnDataSent(0) once (the connection is writable; nothing was queued),
//     OnDataAvailable(0) while bytes wait, OnSendData/OnDataSent after sends,
//     finally OnSessionClosed exactly once per connection.
//   A failed attempt also passes through wsConnected: OnSessionConnected(10061 etc.)
//   fires, then the socket closes itself (OnChangeState(->wsClosed),
//   OnSessionClosed(0)).
//
// * Reading: OnDataAvailable is called again and again while unread bytes wait, so a
//   handler must read (Receive/ReceiveStr). If a handler returns without reading
//   anything, no further OnDataAvailable comes until something reads. An exception
//   thrown from OnDataAvailable is absorbed silently and ends that read loop.
//   Receive returns 0 once the peer has closed and -1 on would-block or error.
//
// * Sending: Send copies the bytes into a queue of 1514-byte blocks (no size limit) and
//   hands as much as the kernel takes. OnSendData(n) fires after each successful
//   low-level send, possibly inside Send. OnDataSent fires when the queue has become
//   empty, ALWAYS later from the event loop, never inside Send. A write event with an
//   empty queue also fires OnDataSent(0); handlers must tolerate it.
//
// * Closing: a local Close fires OnChangeState(->wsClosed) and then
//   OnSessionClosed(0), both inside Close, exactly once; a second Close does nothing.
//   When the peer closes, every unread byte is offered through OnDataAvailable first,
//   then OnSessionClosed(error) fires (10054 after a reset), then the socket closes
//   itself (OnChangeState(->wsClosed)). The destructor closes without any event.
//   After every close the properties return to their defaults (ResetToDefaults):
//   Addr, Port and Proto must be set again before the next Connect.
//
// * Addresses: Addr, LocalAddr and the lookup results are IPv4 ("127.0.0.1") or IPv6
//   ("::1") texts alike. A Connect to an Addr that is the DnsResult of this socket's last
//   lookup tries every address of DnsResultList (and one to a name looked up by Connect
//   every address found): the families take turns, each next address 250 ms after the
//   one before unless that one connected (at once when it failed), and the first that
//   connects carries the connection; the others are closed without an event. The
//   events are those of one connection: OnSessionConnected(0) for the winner, or once
//   every address failed OnSessionConnected(last error), with TriedAddressesText()
//   naming them all. Listen binds the first address only.
//
// * Errors: failures at call time go through SocketError/RaiseException: with OnError
//   set, OnError fires and the call goes on (returning -1 where it returns a count);
//   otherwise ESocketException is thrown out of the call. Failures found later by the
//   network arrive as the Error argument of OnSessionConnected, OnSessionClosed and
//   OnDnsLookupDone (11001 host not found, 10004 after CancelDnsLookup).
//
// * Exceptions thrown by any other event handler never reach the Qt event loop: the
//   socket catches them and fires OnBgException(sender, e, canClose) with canClose
//   true; unless the handler clears canClose, the socket is then aborted (which fires
//   OnSessionClosed(0) if it was open).
//
// * A handler may delete the socket (directly or through its owner); the socket
//   touches nothing of itself after such a handler returns.
//
// TLS (client side only; a plain socket is untouched by any of it):
//
// * On connect: SetTls(true) (and SetTlsServer(host) when Addr is an address looked up
//   for that host) before Connect. The TCP connect is followed by the handshake, and
//   the socket stays wsConnecting until it is done: then OnChangeState(->wsConnected),
//   OnSessionConnected(0) and OnDataSent(0) come as for a plain connection. A failed
//   handshake ends like a failed connect: OnSessionConnected(TLS_ERR_HANDSHAKE or
//   TLS_ERR_CERTIFICATE, or a Winsock number when the network failed), then the socket
//   closes itself. TlsErrorText() names the host and OpenSSL's reason.
// * On an open connection: StartTls() begins the client handshake on a connected (or
//   Dup'ed, accepted) socket; OnTlsHandshakeDone(error) follows from the event loop,
//   then OnDataSent(0). A failure closes the socket after that event. Until the
//   handshake is done, Receive gives -1 (would block) and Send queues.
// * Data: Receive, ReceiveStr and RcvdCount deal in plaintext; OnDataAvailable fires
//   while decrypted bytes wait, as for plain bytes, but one read event hands out a
//   bounded amount and the rest follows from the loop (other sockets get their turn).
//   Send takes plaintext; OnSendData(n) counts plaintext as OpenSSL takes it, and
//   OnDataSent fires once everything, ciphertext included, is with the kernel.
// * Close sends close_notify before the FIN (Abort does not). When the peer ends, the
//   close comes as for a plain socket; TlsCloseNotifyReceived() tells whether it said
//   close_notify first (without it, a body shorter than announced is cut, not complete).
//   A broken record ends the connection with OnSessionClosed(TLS_ERR_CONNECTION), a
//   reset with OnSessionClosed(10054) as for a plain socket.
// * Trust: the socket's TTlsContext (TTlsContext::Default() unless set) verifies the
//   certificate against the system's CAs, the extra CA file, the host name, and the
//   fingerprints trusted for TlsHostPort(); TlsPeer() shows the certificate after any
//   handshake, refused or not, with protocol and cipher after a good one. The TLS
//   settings stay across closes (like the event handlers: SetTls(false) before a plain
//   Connect of a socket that ran TLS); TlsPeer() and the texts describe the last
//   handshake until the next one starts. A resumed session sends no certificate:
//   TlsPeer() then shows the one stored with the session.
//
// How the clients use it:
//   HTTPS: SetTls(true); SetTlsServer(url host, port); Addr := DnsResult; Connect.
//     Log TlsPeer().protocol/cipher in OnSessionConnected(0). On OnSessionClosed
//     before the announced length, !TlsCloseNotifyReceived() is a short body.
//   FTPS (explicit): SetTlsServer(host, port) on the control socket; after "234" to
//     AUTH TLS, StartTls() on it; on OnTlsHandshakeDone(0) send PBSZ 0 and PROT P
//     (reading their replies also takes in the session tickets of TLS 1.3, which come
//     after the handshake). Each data socket calls TlsTakeSessionOf(control) and
//     SetTlsServer(control host, control port) first (servers demand the control's
//     session there), then: passive, SetTls(true) before its Connect; active,
//     StartTls() right after Dup of the accepted handle (we are still the TLS client).
//     Once OnDataSent follows the last block of an upload, Shutdown(1) (close_notify,
//     then the FIN) and read until the server closes: a Close with the server's last
//     records (session tickets) unread would reset the connection under the upload.
//   A refused certificate (TLS_ERR_CERTIFICATE): show TlsPeer(); when the user trusts
//     it, TlsContext()->TrustFingerprint(TlsHostPort(), TlsPeer().sha256) and connect
//     again.
class TAsyncSocket : public QObject {
public:
    // Message offsets of the notification target.
    enum Notification {
        NotifyAsyncSelect = 1,
        NotifyHostByName = 2,
        NotifyHostByAddr = 3,
        NotifyCloseDelayed = 4,
        NotifyRelease = 5,
        NotifyTestException = 6
    };

    // Network event bits of NotifyAsyncSelect, as the asynchronous select reports them.
    enum SelectEvent { FdRead = 0x01, FdWrite = 0x02, FdOob = 0x04, FdAccept = 0x08, FdConnect = 0x10, FdClose = 0x20 };

    static constexpr qint64 BufferSize = 1514;

    explicit TAsyncSocket(QObject* owner = nullptr);
    ~TAsyncSocket() override;

    TAsyncSocket(const TAsyncSocket&) = delete;
    TAsyncSocket& operator=(const TAsyncSocket&) = delete;

    // ---- properties (defaults after construction and after every close) ----
    QString Addr() const { return m_addrStr; }   // empty, unassigned
    void SetAddr(const QString& value);          // "Cannot change Addr if not closed"
    QString Port() const { return m_portStr; }   // empty, unassigned
    void SetPort(const QString& value);          // a number or a service name
    QString Proto() const { return m_protoStr; } // "tcp"; "udp" or "17" gives datagrams
    void SetProto(const QString& value);
    QString LocalAddr() const { return m_localAddr; } // "0.0.0.0"
    void SetLocalAddr(const QString& value);          // "SetLocalAddr(): Invalid IP address"
    QString LocalPort() const { return m_localPortStr; } // "0"; after a datagram bind the bound port
    void SetLocalPort(const QString& value);
    QString PeerPort() const; // decimal, "error" unless connected
    QString PeerAddr() const; // "127.0.0.1" or "::1", "error" unless connected
    QString DnsResult() const { return m_dnsResult; }
    QStringList DnsResultList() const { return m_dnsResultList; }
    TSocketState State() const { return m_state; }
    qint64 ReadCount() const { return m_readCount; } // bytes returned by reads since the last reset
    qint64 RcvdCount();                              // bytes waiting to be read; -1 on error
    int LastError() const { return m_lastError; }
    bool MultiThreaded() const { return m_multiThreaded; } // false
    void SetMultiThreaded(bool value) { m_multiThreaded = value; }
    int FlushTimeout() const { return m_flushTimeout; } // 60, kept, never used
    void SetFlushTimeout(int value) { m_flushTimeout = value; }
    TSocketSendFlags SendFlags() const { return m_sendFlags; } // wsSendNormal
    void SetSendFlags(int value);                              // "Invalid SendFlags"
    TSocketLingerOnOff LingerOnOff() const { return m_lingerOnOff; } // wsLingerOn
    void SetLingerOnOff(TSocketLingerOnOff value) { m_lingerOnOff = value; }
    int LingerTimeout() const { return m_lingerTimeout; } // 0 seconds
    void SetLingerTimeout(int value) { m_lingerTimeout = value; }

    // The remote address of the connection (valid once Connect has resolved Addr; after
    // a race of several addresses, the one that connected).
    const TSocketAddress& ResolvedAddress() const { return m_remote; }
    // After a Connect that tried more than one address: "[::1]:80, 127.0.0.1:80", every
    // one in the order tried; empty otherwise and once connected.
    QString TriedAddressesText() const;
    // The platform handle (-1 when none), for reading socket options.
    int HSocket() const { return m_hSocket; }

    // ---- events ----
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSendData OnSendData;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TChangeState OnChangeState;
    TNotifyEvent OnLineTooLong; // never fired
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;
    TBgExceptionEvent OnBgException;
    TTlsHandshakeDone OnTlsHandshakeDone; // after StartTls only

    // ---- name lookup ----
    // A numeric address (dotted IPv4, IPv6 also in brackets) completes at once:
    // DnsResult is set and OnDnsLookupDone(0) fires before DnsLookup returns. A name is
    // looked up asynchronously (QHostInfo, or the addresses SetResolveOverride gave it);
    // OnDnsLookupDone(error) follows from the event loop with DnsResultList (every IPv6
    // and IPv4 address, in the resolver's order) and DnsResult (the first of them). An
    // empty host reports "DNS lookup: invalid host name.".
    void DnsLookup(const QString& hostName);
    // Address text -> host name in DnsResult/DnsResultList, via OnDnsLookupDone.
    void ReverseDnsLookup(const QString& hostAddr);
    // A pending lookup ends with OnDnsLookupDone(10004) inside this call; with nothing
    // pending it does nothing.
    void CancelDnsLookup();
    // Process-wide: from now on a lookup of the name (any case) gives these numeric
    // addresses, in this order, without asking the system, as curl's --resolve does; an
    // empty list ends that. False, and nothing changed, when one is no numeric address.
    static bool SetResolveOverride(const QString& name, const QStringList& addresses);

    // ---- connection ----
    // Opens a connection to Addr/Port/Proto; ends in OnSessionConnected. Refuses with
    // "Connect: Socket already in use", "Connect: No Port Specified", "Connect: No IP
    // Address Specified", "Connect: No Protocol Specified". A non-numeric Addr is
    // resolved by a blocking lookup: set Addr to a DnsResult to avoid it.
    void Connect();
    // Binds to Addr:Port and listens (backlog 5); OnSessionAvailable per incoming
    // connection. Port "0" picks a free port: read it with GetSockName or GetXPort.
    void Listen();
    // Takes one pending connection off a listening socket; returns its handle or -1.
    int Accept();
    // Makes this socket the owner of an accepted handle: State := wsConnected, no
    // OnSessionConnected.
    void Dup(int newHSocket);
    // 0, or -1 with LastError set.
    int GetSockName(sockaddr_in& saddr);
    int GetSockName(TSocketAddress& saddr);
    int GetPeerName(sockaddr_in& saddr);
    int GetPeerName(TSocketAddress& saddr);
    QString GetXPort(); // local port, decimal; "error" unless bound, connected or listening
    void Shutdown(int how); // 0 receive, 1 send, 2 both; over TLS 1 and 2 say close_notify first
    void Close();
    void CloseDelayed(); // posts a Close
    void Release();      // posts the destruction of the socket
    void Abort();        // drops the queue, closes without a shutdown
    void Pause();        // no notifications until Resume
    void Resume();
    void SetLingerOption(); // applies LingerOnOff/LingerTimeout to the open handle
    // Posts a notification that raises "Test exception in AsyncSocket" from the event
    // loop, to exercise the background-exception guard.
    void PostTestException();

    // ---- data ----
    qint64 Send(const void* data, qint64 len); // count queued, or -1
    qint64 Send(const QByteArray& data) { return Send(data.constData(), data.size()); }
    qint64 SendStr(const QByteArray& str) { return Send(str); }
    qint64 SendStr(const QString& str) { return Send(str.toUtf8()); }
    qint64 SendTo(const sockaddr_in& dest, const void* data, qint64 len);
    // Sends what the queue holds until the kernel stops taking it.
    void TryToSend();
    bool AllSent() const { return m_allSent; }
    qint64 Receive(void* buffer, qint64 size); // count, 0 after the peer closed, -1 (see LastError)
    QByteArray ReceiveStr();                   // all bytes waiting now
    qint64 ReceiveFrom(void* buffer, qint64 size, sockaddr_in& from);

    // ---- waiting (not used by the clients) ----
    void Flush();         // TryToSend + ProcessMessages until the queue is empty
    void WaitForClose();  // process events until the connection closes
    void MessagePump();   // dispatches every pending event of this thread
    void ProcessMessages();

    // ---- errors ----
    // Reports a failed platform call: LastError := errorCode, message "Error <n> in
    // function <name>\r\n<text>". 10054 and 10057 close the handle silently first.
    void SocketError(const QString& sockFunc, int errorCode);
    // OnError when set, else throws ESocketException(message).
    void RaiseException(const QString& msg);
    // Back to the defaults of the property table; event handlers stay attached.
    void ResetToDefaults();

    // Resolvers (used by Connect, Listen and binding); throw ESocketException.
    // Every address of the host: a numeric one as it stands, a name through the
    // resolver override or a lookup that blocks, IPv6 and IPv4 in the order found.
    static std::vector<TSocketAddress> SocketResolveHostAddresses(const QString& host);
    // The first IPv4 address of the host, in network byte order.
    static in_addr_t SocketResolveHost(const QString& host);
    static quint16 SocketResolvePort(const QString& port, const QString& proto);
    static int SocketResolveProto(const QString& proto);
    static bool IsDottedAddress(const QString& text);

    // ---- TLS (see the notes above the class) ----
    bool Tls() const { return m_tlsOnConnect; }
    void SetTls(bool on); // before Connect; "Cannot change Tls if not closed"
    // The name the certificate must carry (also sent as SNI unless it is an address) and
    // the port that with it keys trusted fingerprints. Defaults: Addr and Port.
    void SetTlsServer(const QString& host, const QString& port = QString());
    QString TlsHostPort() const; // "host:port" of the next or last handshake
    std::shared_ptr<TTlsContext> TlsContext() const;
    void SetTlsContext(std::shared_ptr<TTlsContext> context);
    // Starts the client handshake on this connected socket; OnTlsHandshakeDone follows.
    void StartTls();
    // The next handshake offers the session of that socket's TLS connection (and uses
    // its context); false when it has none. Call it just before Connect or StartTls.
    bool TlsTakeSessionOf(const TAsyncSocket& other);
    bool TlsActive() const { return m_tls != nullptr; } // this connection runs TLS
    bool TlsEstablished() const;
    const TTlsPeerInfo& TlsPeer() const { return m_tlsPeer; }
    QString TlsErrorText() const { return m_tlsErrorText; }
    bool TlsCloseNotifyReceived() const { return m_tlsCloseNotify; }

    // Test accessors: whether the socket currently asks to be told about writability,
    // and whether it currently watches for incoming bytes.
    bool isWriteWatched() const;
    bool isReadWatched() const;

private:
    void handleNotification(int msg, qintptr wParam, qintptr lParam);
    void handleSelect(int events, int error);
    void handleBackgroundException(const std::exception& e);
    void guarded(const std::function<void()>& work);
    void postSelect(int events, int error = 0);
    void onReadReady();
    void onWriteReady();
    void onHangupReady();
    // The common start of a forward and a reverse lookup: an empty text is refused (raised
    // and reported as WSAEINVAL); otherwise a lookup in progress is dropped and the results
    // emptied. False when refused.
    bool beginLookup(const QString& text);
    void startLookup(const QString& text, bool reverse);
    void lookupFinished(int lookupId);

    void changeState(TSocketState newState);
    void internalClose(bool shutdownFirst, int error);
    void bindSocket();
    bool resolveAll(const QString& prefix);
    std::vector<TSocketAddress> addressesToTry() const;
    static QStringList ResolveOverride(const QString& name);
    bool openHandle(const QString& failName);
    int applyStreamOptions(int handle, int family);
    int lingerTo(int handle) const;
    int openAttempt(const TSocketAddress& to, int& error);
    void raceWon(int handle, const TSocketAddress& to);
    void watchHandle(bool listening);
    void unwatchHandle();
    void applyWatches();
    void setWriteWatched(bool on);
    void watchHangup(bool on);
    void readLoop(int error, bool fair = false);
    void rearmRead();
    qint64 bytesWaiting();
    qint64 doRecv(void* buffer, qint64 size, int flags, sockaddr_in* from);
    void cancelLookupSilently();
    void clearQueue();
    void closeHandleSilently();
    int platformError() const;

    // TLS (socket_tls.cpp)
    QString tlsServerName() const;
    void tlsBegin(bool onConnect);
    void tlsSelect(int events, int error);
    void tlsAdvanceHandshake();
    void tlsHandshakeFinished(int error);
    qint64 tlsPull();
    int tlsFlush();
    void tlsTryToSend();
    qint64 tlsSendDirect(const char* data, qint64 len);
    qint64 tlsReceive(void* buffer, qint64 size);
    qint64 tlsRcvdCount();
    // What the session holds for the reader; nothing when the kernel decides.
    std::optional<qint64> tlsWaiting() const;
    void tlsConnectionFailed();
    void tlsNoteCloseNotify();
    int tlsClosingError(int error);
    void tlsSendCloseNotify();
    void tlsEnd(bool sendCloseNotify);

    // Fires one event; returns false when the handler destroyed this socket.
    template <typename F, typename... A>
    bool fire(const F& handler, A&&... args);

    NotificationTarget* m_target = nullptr;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QSocketNotifier* m_hangupNotifier = nullptr;
    int m_hangupFd = -1;

    int m_hSocket = -1;
    // Changes with every new handle, so that a notification posted for a handle that
    // has since been closed (and whose number the kernel reused) is recognised as stale.
    qintptr m_handleSerial = 0;
    int m_lastAccepted = -1;
    TSocketState m_state = wsClosed;
    QString m_addrStr, m_portStr, m_protoStr, m_localAddr, m_localPortStr;
    bool m_addrAssigned = false, m_addrResolved = false;
    bool m_portAssigned = false, m_portResolved = false;
    bool m_protoAssigned = false, m_protoResolved = false;
    bool m_localPortResolved = false;
    std::vector<TSocketAddress> m_candidates; // Addr resolved, in the order to try them
    TSocketAddress m_remote;                  // the one this handle connects to
    quint16 m_remotePort = 0;
    std::unique_ptr<ConnectRace> m_race;      // the other addresses while connecting
    QStringList m_tried;
    int m_proto = 6;
    quint16 m_localPort = 0;
    TSocketAddress m_local;
    bool m_datagram = false;

    QString m_dnsResult;
    QStringList m_dnsResultList;
    SocketLookup* m_lookup = nullptr; // owned by the notification target
    int m_lookupId = -1;
    bool m_lookupReverse = false;

    std::deque<std::unique_ptr<TBuffer>> m_queue;
    bool m_allSent = true;
    bool m_closeEventFired = false;
    bool m_paused = false;
    bool m_readArmed = false;   // the next read (or accept) notification may come
    bool m_writeWanted = false; // a send met would-block, or a connect is pending
    bool m_connectPending = false;
    bool m_inReadEvent = false; // notifier changes wait for the end of the read event
    bool m_destroying = false;

    qint64 m_readCount = 0;
    qint64 m_recvCalls = 0;
    int m_lastError = 0;
    bool m_multiThreaded = false;
    int m_flushTimeout = 60;
    TSocketSendFlags m_sendFlags = wsSendNormal;
    TSocketLingerOnOff m_lingerOnOff = wsLingerOn;
    int m_lingerTimeout = 0;

    std::unique_ptr<TlsChannel> m_tls; // the live TLS session of this handle
    bool m_tlsOnConnect = false;
    bool m_tlsStartedOnConnect = false;
    QString m_tlsServerName, m_tlsServerPort;
    std::shared_ptr<TTlsContext> m_tlsContext;
    std::shared_ptr<ssl_session_st> m_tlsResume;
    TTlsPeerInfo m_tlsPeer;
    QString m_tlsErrorText;
    bool m_tlsCloseNotify = false;
    bool m_tlsClosePosted = false;
};
