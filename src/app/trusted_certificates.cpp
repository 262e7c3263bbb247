#include "app/trusted_certificates.h"

#include "net/tls_configuration.h"

#include <QSettings>

namespace {

const QString kKey = QStringLiteral("tls/trusted");

QSettings programSettings() { return QSettings(QStringLiteral("Parcelwick"), QStringLiteral("Parcelwick")); }

} // namespace

void KeepTrustedCertificates(TlsConfiguration& configuration) {
    for (const QString& entry : programSettings().value(kKey).toStringList()) {
        const qsizetype space = entry.lastIndexOf(' ');
        // A damaged entry trusts nothing: Trust refuses what is no fingerprint.
        if (space > 0)
            configuration.Trust(entry.left(space), entry.mid(space + 1));
    }
    configuration.onTrustedAlways = [](const QString& hostPort, const QString& sha256) {
        QSettings settings = programSettings();
        QStringList entries = settings.value(kKey).toStringList();
        const QString entry = hostPort + ' ' + sha256;
        if (!entries.contains(entry))
            settings.setValue(kKey, entries << entry);
    };
}
