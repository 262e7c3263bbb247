// Fetches one URL through THttpClient and prints the seconds from the start of the
// request to its first body byte: the connection set-up that bench/dual_stack_connect.sh
// measures, without the program's own start.
//
// usage: first_byte URL [HOST ADDR[,ADDR...]]
//   HOST ADDR...: the addresses the name stands for, as get --resolve gives them
#include "http/http_client.h"
#include "net/async_socket.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: first_byte URL [HOST ADDR[,ADDR...]]\n");
        return 2;
    }
    if (argc == 4 && !TAsyncSocket::SetResolveOverride(QString::fromLocal8Bit(argv[2]),
                                                       QString::fromLocal8Bit(argv[3]).split(','))) {
        std::fprintf(stderr, "not numeric addresses: %s\n", argv[3]);
        return 2;
    }
    QBuffer body;
    body.open(QIODevice::WriteOnly);
    THttpClient client;
    client.SetURL(QString::fromLocal8Bit(argv[1]));
    client.SetRcvdStream(&body);
    QElapsedTimer clock;
    double first = -1;
    client.OnDocData = [&](THttpClient*, const char*, qint64) {
        if (first < 0)
            first = double(clock.nsecsElapsed()) / 1e9;
    };
    client.OnRequestDone = [&](THttpClient* c, THttpRequest, quint16 error) {
        if (error != 0 || c->StatusCode() != 200 || first < 0) {
            std::fprintf(stderr, "failed: %d %s\n", c->StatusCode(), qPrintable(c->ReasonPhrase()));
            app.exit(1);
            return;
        }
        std::printf("%.4f\n", first);
        app.exit(0);
    };
    clock.start();
    client.GetAsync();
    return app.exec();
}
