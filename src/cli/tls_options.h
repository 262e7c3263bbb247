#pragma once

#include "ftp/ftp_types.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <optional>

// The help lines of the TLS options, for the usage texts of the commands that connect.
#define PW_CLI_TLS_OPTIONS_HELP                                                                   \
    "      --cacert FILE  trust the CAs in FILE (PEM) besides the system's, for https and FTPS\n" \
    "      --insecure     accept any server certificate (a warning says what that means)\n"      \
    "      --trust-fingerprint SHA256\n"                                                          \
    "                     accept the server certificate with this SHA-256 fingerprint (as\n"      \
    "                     openssl x509 -fingerprint -sha256 prints it; colons optional, any\n"    \
    "                     case); may be given several times\n"

// --cacert, --insecure and --trust-fingerprint of a command: what the command's
// connections trust, set in the process's TLS configuration. Nothing is ever trusted by
// asking: a refused certificate is shown with its fingerprint and stays refused.
class CliTlsOptions {
public:
    void addTo(QCommandLineParser& parser) const;
    // Applies the options as the command's parser read them. Returns nothing when the
    // command is to run; otherwise its exit status, after the message (a fingerprint
    // that is none is a usage error, a CA file that cannot be read a failure).
    std::optional<int> apply(const QCommandLineParser& parser, const QString& command, const QString& usage) const;

private:
    QCommandLineOption m_caFile{QStringLiteral("cacert"), QString(), QStringLiteral("FILE")};
    QCommandLineOption m_insecure{QStringLiteral("insecure")};
    QCommandLineOption m_fingerprint{QStringLiteral("trust-fingerprint"), QString(), QStringLiteral("SHA256")};
};

// After a connection refused a certificate: shows each refused one (who, why, subject,
// issuer, validity, fingerprint) with the option that would accept it, on stderr.
void ShowRefusedCertificates();

// The values of --ftps: off, try (when offered) and require.
std::optional<TFtpTlsMode> FtpTlsModeNamed(const QString& name);
