#include "tls_test_client.h"

#include "support/tls_certificates.h"

TlsTestClient::TlsTestClient() {
    socket.OnChangeState = [this](TAsyncSocket*, TSocketState o, TSocketState n) {
        events.push_back("state " + std::to_string(o) + "->" + std::to_string(n));
    };
    socket.OnSessionConnected = [this](TAsyncSocket*, quint16 e) {
        connectedError = e;
        events.push_back("connected " + std::to_string(e));
    };
    socket.OnTlsHandshakeDone = [this](TAsyncSocket*, quint16 e) {
        handshakeError = e;
        events.push_back("tls " + std::to_string(e));
    };
    socket.OnDataSent = [this](TAsyncSocket*, quint16 e) {
        ++dataSentCount;
        events.push_back("datasent " + std::to_string(e));
    };
    socket.OnSendData = [this](TAsyncSocket*, qint64 n) { sendDataTotal += n; };
    socket.OnSessionClosed = [this](TAsyncSocket*, quint16 e) {
        ++closedCount;
        closedError = e;
        events.push_back("closed " + std::to_string(e));
    };
    socket.OnDataAvailable = [this](TAsyncSocket* sender, quint16) {
        char buf[65536];
        const qint64 n = sender->Receive(buf, sizeof buf);
        if (n > 0)
            received.append(buf, n);
    };
}

void TlsTestClient::connect(const QString& port, std::shared_ptr<TTlsContext> context, const QString& serverName) {
    socket.SetTls(true);
    socket.SetTlsContext(std::move(context));
    socket.SetTlsServer(serverName);
    connectPlain(port);
}

void TlsTestClient::connectPlain(const QString& port) {
    socket.SetAddr(QStringLiteral("127.0.0.1"));
    socket.SetPort(port);
    socket.SetProto(QStringLiteral("tcp"));
    socket.Connect();
}

std::shared_ptr<TTlsContext> testCaContext() {
    TTlsOptions options;
    options.caFile = TlsCertificates::get().caFile();
    return TTlsContext::Create(options);
}
