#include "common/certificate_question.h"

namespace {

QString utcText(const QDateTime& when) {
    return when.isValid() ? when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")) : QStringLiteral("?");
}

} // namespace

QString CertificateQuestionText(const CertificateQuestion& q) {
    return QStringLiteral("The certificate of %1 is not trusted: %2.\n"
                          "\n"
                          "Subject: %3\n"
                          "Issuer: %4\n"
                          "Valid from %5 to %6\n"
                          "SHA-256 fingerprint: %7\n"
                          "\n"
                          "Trust this certificate?")
        .arg(q.hostPort, q.reason, q.subject, q.issuer, utcText(q.notBefore), utcText(q.notAfter), q.sha256);
}
