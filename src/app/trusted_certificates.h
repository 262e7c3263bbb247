#pragma once

class TlsConfiguration;

// The certificates the user trusts "Always" live in the program's settings (QSettings
// of organisation and application "Parcelwick", one "host:port fingerprint" entry each
// under "tls/trusted"): this trusts the ones kept there and keeps every later one.
void KeepTrustedCertificates(TlsConfiguration& configuration);
