#pragma once

#include "net/tls_context.h"
#include "net/tls_peer_info.h"

#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class TAsyncSocket;

// A certificate that a connection refused, kept for the question to the user.
struct TlsRefusal {
    QString hostPort;  // "host:port" that presented it
    TTlsPeerInfo peer; // the certificate and OpenSSL's reason
    QString errorText; // "Certificate of host:port not trusted: self-signed certificate"
};

// The TLS settings of the whole process, shared by every HTTP and FTP client (the
// gather's downloads, the browser's manifest fetch, the upload run, a command of
// parcelwick-cli): what is trusted (extra CA file, insecure, fingerprints the user
// trusts) and which refused certificates wait for the user's decision. Clients take
// Context() for each new connection and note their refusals here; whoever can ask the
// user (the window, the browser) takes the refusals and asks. One thread.
class TlsConfiguration {
public:
    static TlsConfiguration& Shared();

    // Connections started from now on verify with these options; fingerprints trusted so
    // far stay trusted. Throws ESocketException when the CA file cannot be read, and
    // then nothing changes.
    void SetOptions(const TTlsOptions& options);
    const TTlsOptions& Options() const { return m_options; }
    // The context of a connection starting now. Made on first use: loading the system's
    // CA store costs a noticeable moment, which a process that never speaks TLS saves.
    std::shared_ptr<TTlsContext> Context();

    // Trusts the certificate with this fingerprint at hostPort (empty: at any server) for
    // the life of the process. False for a malformed fingerprint.
    bool Trust(const QString& hostPort, const QString& sha256);
    // Trusts it and hands it to onTrustedAlways, which keeps it beyond the process.
    bool TrustAlways(const QString& hostPort, const QString& sha256);
    std::function<void(const QString& hostPort, const QString& sha256)> onTrustedAlways;

    // Called by a client whose handshake on this socket refused the server's
    // certificate. A later refusal at the same host:port replaces an earlier one.
    void NoteRefusal(const TAsyncSocket& socket);
    // The refusals still undecided, oldest first, one per host:port; a certificate that
    // has been trusted since is left out. They are forgotten here.
    QList<TlsRefusal> TakeRefusals();
    std::optional<TlsRefusal> TakeRefusal(const QString& hostPort);

    // Back to a new process's state: the system store, nothing trusted, nothing noted.
    void Reset();

private:
    TTlsOptions m_options;
    std::shared_ptr<TTlsContext> m_context; // null until first used
    QList<QPair<QString, QString>> m_trusted; // (host:port, fingerprint), for a new context
    QList<TlsRefusal> m_refusals;
};
