// Reads one document over TLS through our socket, as fast as the server sends it, and
// says how much came: the TLS receive path measured by bench/tls_receive.sh.
//
// usage: tls_receive HOST PORT PATH [CAFILE]
//   sends "GET PATH HTTP/1.0" and reads until the server closes; verifies the server
//   against CAFILE (besides the system store) and the name HOST.
#include "net/async_socket.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: tls_receive HOST PORT PATH [CAFILE]\n");
        return 2;
    }
    TTlsOptions options;
    if (argc > 4)
        options.caFile = QString::fromLocal8Bit(argv[4]);
    TAsyncSocket socket;
    socket.SetTlsContext(TTlsContext::Create(options));
    socket.SetTls(true);
    socket.SetTlsServer(QString::fromLocal8Bit(argv[1]));
    socket.SetAddr(QStringLiteral("127.0.0.1"));
    socket.SetPort(QString::fromLocal8Bit(argv[2]));

    const qint64 chunk = 256 * 1024; // what the HTTP client reads at a time
    std::unique_ptr<char[]> buffer(new char[chunk]);
    qint64 total = 0;
    int status = 1;
    QElapsedTimer clock;
    socket.OnSessionConnected = [&](TAsyncSocket* s, quint16 error) {
        if (error != 0) {
            std::fprintf(stderr, "%s\n", qPrintable(s->TlsErrorText()));
            app.exit(1);
            return;
        }
        clock.start();
        s->SendStr("GET " + QByteArray(argv[3]) + " HTTP/1.0\r\n\r\n");
    };
    socket.OnDataAvailable = [&](TAsyncSocket* s, quint16) {
        const qint64 n = s->Receive(buffer.get(), chunk);
        if (n > 0)
            total += n;
    };
    socket.OnSessionClosed = [&](TAsyncSocket* s, quint16 error) {
        status = error == 0 ? 0 : 1;
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        std::printf("%lld bytes in %.3f s, %s %s, close_notify %s\n", static_cast<long long>(total), seconds,
                    qPrintable(s->TlsPeer().protocol), qPrintable(s->TlsPeer().cipher),
                    s->TlsCloseNotifyReceived() ? "yes" : "no");
        app.exit(status);
    };
    socket.Connect();
    return app.exec();
}
