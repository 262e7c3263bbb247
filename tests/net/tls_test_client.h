#pragma once

#include "net/async_socket.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <string>
#include <vector>

// A TLS client socket for the tests that records its events as lines of text and
// keeps every plaintext byte it reads.
struct TlsTestClient {
    TAsyncSocket socket;
    std::vector<std::string> events;
    QByteArray received;
    int connectedError = -1;
    int handshakeError = -1;
    int closedCount = 0;
    int closedError = -1;
    int dataSentCount = 0;
    qint64 sendDataTotal = 0;

    TlsTestClient();
    // TLS on connect to 127.0.0.1:port, checking the certificate for serverName.
    void connect(const QString& port, std::shared_ptr<TTlsContext> context,
                 const QString& serverName = QStringLiteral("localhost"));
    // A plain connection, for TLS started on it later.
    void connectPlain(const QString& port);
};

// A context that trusts the test CA besides the system store.
std::shared_ptr<TTlsContext> testCaContext();
