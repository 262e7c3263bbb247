#pragma once

#include <QString>

#include <openssl/x509.h>

// Shared by the TLS sources only.

// Empties this thread's OpenSSL error queue and gives the reason of its first error in
// OpenSSL's words ("wrong version number", "tlsv1 alert unknown ca"), or "" when the
// queue held none.
QString TakeOpenSslReason();

// The certificate check of every TLS socket: OpenSSL's verdict, softened by the
// socket's insecure option and by the fingerprints the user trusts.
int TlsVerifyCallback(int preverifyOk, X509_STORE_CTX* store);
