#pragma once

#include <QString>
#include <QTemporaryDir>

// Throw-away certificates for TLS tests, made once per test program with the openssl
// command in a private temporary directory: a test CA and, signed by it, a server
// certificate for localhost and 127.0.0.1, one for another name and one that has
// expired; and a self-signed one for localhost and 127.0.0.1. All keys are P-256.
class TlsCertificates {
public:
    struct Pair {
        QString cert; // PEM path
        QString key;  // PEM path
    };

    // The set of this program; fails the calling test (ADD_FAILURE) and gives an
    // invalid set when openssl is missing or refuses.
    static const TlsCertificates& get();

    bool valid() const { return m_valid; }
    QString caFile() const { return m_dir.filePath(QStringLiteral("ca.pem")); }
    Pair good() const { return pair(QStringLiteral("good")); }
    Pair wrongName() const { return pair(QStringLiteral("wrongname")); }
    Pair expired() const { return pair(QStringLiteral("expired")); }
    Pair selfSigned() const { return pair(QStringLiteral("selfsigned")); }
    QString errorText() const { return m_error; }

    // What `openssl x509` itself says, an independent yardstick for our reading.
    static QString fingerprintOf(const QString& certFile); // "AB:CD:..."
    static QString subjectOf(const QString& certFile);     // RFC 2253

private:
    TlsCertificates();
    Pair pair(const QString& name) const;
    bool run(const QStringList& args);
    bool makeSigned(const QString& name, const QString& subjectAltName, const QString& days);

    QTemporaryDir m_dir;
    bool m_valid = false;
    QString m_error;
};
