#include "support/tls_certificates.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

// Runs openssl in dir; its output, or nothing with the reason in error.
bool openssl(const QStringList& args, const QString& dir, QString* output, QString* error) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral("openssl"), args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("openssl %1: %2 %3")
                     .arg(args.join(' '), p.errorString(), QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return true;
}

// The value after "=" of a one-line answer of openssl x509.
QString x509Field(const QStringList& args) {
    QString line, error;
    if (!openssl(args, QString(), &line, &error))
        return error;
    return line.mid(line.indexOf('=') + 1);
}

const QStringList P256 = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes")};

} // namespace

const TlsCertificates& TlsCertificates::get() {
    static const TlsCertificates set;
    if (!set.valid())
        ADD_FAILURE() << "test certificates: " << set.errorText().toStdString();
    return set;
}

TlsCertificates::TlsCertificates() {
    const QString here = QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1");
    m_valid = m_dir.isValid() &&
              run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + P256 +
                  QStringList{"-keyout", m_dir.filePath("ca.key"), "-out", m_dir.filePath("ca.pem"), "-subj",
                              "/O=Parcelwick Tests/CN=Parcelwick Test CA", "-days", "30"}) &&
              makeSigned(QStringLiteral("good"), here, QStringLiteral("30")) &&
              makeSigned(QStringLiteral("wrongname"), QStringLiteral("subjectAltName=DNS:wrong.example"),
                         QStringLiteral("30")) &&
              // A validity that ended a day before it began: expired whenever checked.
              makeSigned(QStringLiteral("expired"), here, QStringLiteral("-1")) &&
              run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + P256 +
                  QStringList{"-keyout", m_dir.filePath("selfsigned.key"), "-out", m_dir.filePath("selfsigned.pem"),
                              "-subj", "/CN=localhost", "-addext", here, "-days", "30"});
}

bool TlsCertificates::makeSigned(const QString& name, const QString& subjectAltName, const QString& days) {
    const QString ext = m_dir.filePath(name + ".ext");
    QFile f(ext);
    if (!f.open(QIODevice::WriteOnly) || f.write(subjectAltName.toUtf8() + '\n') < 0)
        return false;
    f.close();
    return run(QStringList{QStringLiteral("req")} + P256 +
               QStringList{"-keyout", m_dir.filePath(name + ".key"), "-out", m_dir.filePath(name + ".csr"), "-subj",
                           "/O=Parcelwick Tests/CN=" + name}) &&
           run({"x509", "-req", "-in", m_dir.filePath(name + ".csr"), "-CA", caFile(), "-CAkey",
                m_dir.filePath("ca.key"), "-CAcreateserial", "-days", days, "-extfile", ext, "-out",
                m_dir.filePath(name + ".pem")});
}

bool TlsCertificates::run(const QStringList& args) { return openssl(args, m_dir.path(), nullptr, &m_error); }

TlsCertificates::Pair TlsCertificates::pair(const QString& name) const {
    return {m_dir.filePath(name + ".pem"), m_dir.filePath(name + ".key")};
}

QString TlsCertificates::fingerprintOf(const QString& certFile) {
    return x509Field({"x509", "-in", certFile, "-noout", "-fingerprint", "-sha256"});
}

QString TlsCertificates::subjectOf(const QString& certFile) {
    return x509Field({"x509", "-in", certFile, "-noout", "-subject", "-nameopt", "RFC2253"});
}
