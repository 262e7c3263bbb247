#pragma once

#include <QDateTime>
#include <QString>

// A server certificate that verification refused (self-signed, issued for another name,
// expired, from an unknown CA), put to the user: trust it or not.
struct CertificateQuestion {
    QString hostPort; // "host:port" that presented it
    QString reason;   // why it was refused, in OpenSSL's words ("self-signed certificate")
    QString subject;  // RFC 2253 form
    QString issuer;
    QDateTime notBefore; // UTC
    QDateTime notAfter;
    QString sha256; // "AB:CD:..."
};

enum class CertificateAnswer {
    No,    // refused: the connection fails
    Once,  // trusted for the life of the process
    Always // trusted, and kept in the program's settings for that host and port
};

// The question as the user reads it: who, why, what the certificate says, and its
// fingerprint (the text to compare with what the server's owner publishes).
QString CertificateQuestionText(const CertificateQuestion& question);
