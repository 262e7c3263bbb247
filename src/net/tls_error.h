#pragma once

// Error numbers of the TLS layer, carried like the Windows Sockets numbers in the Error
// argument of OnSessionConnected, OnTlsHandshakeDone and OnSessionClosed. They lie above
// the Winsock range (10004..11004) and the waiting time-out (12001), and far from the
// HTTP client's codes (1..4) and the FTP reply codes (100..599), so a client can tell
// them apart. SocketErrorDesc gives their short texts; the full text, naming the host
// and OpenSSL's reason, is the socket's TlsErrorText().
inline constexpr int TLS_ERR_HANDSHAKE = 12201;   // "TLS handshake failed"
inline constexpr int TLS_ERR_CERTIFICATE = 12202; // "Certificate not trusted"
inline constexpr int TLS_ERR_CONNECTION = 12203;  // "TLS connection failed" (after the handshake)
