#include "ftp_client_harness.h"

#include <QFile>

FtpClientHarness::FtpClientHarness(quint16 port, const QString& host) {
    client.SetHostName(host);
    client.SetPort(QString::number(port));
    client.SetUserName(QStringLiteral("u"));
    client.SetPassWord(QStringLiteral("p"));
    client.SetTimeout(10);
    client.OnDisplay = [this](TCustomFtpClient* c, QString& msg) {
        display << msg;
        if (msg.startsWith(QLatin1String("< ")))
            countAtReply[msg] = c->TransferCount();
    };
    client.OnRequestDone = [this](TCustomFtpClient*, TFtpRequest type, quint16 error) { done.append({type, error}); };
    client.OnProgress = [this](TCustomFtpClient*, qint64 count, bool&) { progress << count; };
}

QString FtpClientHarness::makeFile(const QString& name, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x);
    }
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

QByteArray FtpClientHarness::fileBytes(const QString& path) const {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

QString FtpClientHarness::displayMismatch(const QStringList& expected) const {
    if (expected.size() != display.size())
        return QStringLiteral("%1 lines shown, %2 expected:\n").arg(display.size()).arg(expected.size()) +
               display.join('\n');
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const QString& e = expected[i];
        const bool ok = e.endsWith('*') ? display[i].startsWith(e.chopped(1)) : display[i] == e;
        if (!ok)
            return QStringLiteral("line %1: \"%2\", expected \"%3\"").arg(i).arg(display[i], e);
    }
    return {};
}
