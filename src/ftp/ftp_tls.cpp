// FTP over TLS, explicit: AUTH TLS after the greeting, PBSZ 0 and PROT P after the
// login, and the TLS of each data connection.
#include "ftp/custom_ftp_client.h"

#include "ftp/password_mask.h"
#include "net/async_socket.h"
#include "net/tls_configuration.h"
#include "net/tls_error.h"

// ---- the control connection ----

void TCustomFtpClient::authTls() {
    m_errorBeforeTls = m_errorMessage;
    sendStepCommand(QStringLiteral("AUTH TLS"), {234}, &TCustomFtpClient::authTlsReplied);
}

void TCustomFtpClient::authTlsReplied() {
    if (m_requestResult != 0) {
        SignalDone(tolerateTlsRefusal(QStringLiteral("AUTH TLS"), QStringLiteral("the session goes on in plain text"))
                       ? 0
                       : m_requestResult);
        return;
    }
    // The certificate must name the host the user gave, not the address it resolved to;
    // fingerprints the user trusts are kept for that host and the port.
    m_control->SetTlsServer(m_hostName, m_control->PeerPort());
    // The client speaks first in a handshake: whatever the server sent behind its 234 is
    // plain text, which must not pass for replies on a connection promised to be TLS.
    if (m_reader.size() > 0)
        return failControlTls(TLS_ERR_HANDSHAKE,
                              QStringLiteral("500 TLS handshake with %1 failed: the server went on in plain text "
                                             "after 234 (Error #%2)")
                                  .arg(m_control->TlsHostPort())
                                  .arg(TLS_ERR_HANDSHAKE));
    m_control->SetTlsContext(TlsConfiguration::Shared().Context());
    // A close before the handshake's end fails the step, as a close before a reply does.
    m_awaitingReply = true;
    m_control->StartTls();
}

void TCustomFtpClient::controlTlsDone(quint16 error) {
    m_awaitingReply = false;
    if (error == 0) {
        showTlsSession(*m_control, QString());
        SignalDone(0);
        return;
    }
    if (error == TLS_ERR_CERTIFICATE)
        TlsConfiguration::Shared().NoteRefusal(*m_control);
    failControlTls(error, socketFailureText(*m_control, error));
}

// Ends as a failed connection does: the request with the error, the connection closed.
// After a 234 there is no going back to plain text, whatever the mode.
void TCustomFtpClient::failControlTls(quint16 error, const QString& response) {
    m_reader.clear();
    display(QStringLiteral("! ") + MaskPassword(response, m_passWord).mid(4));
    failRequest(500, error, FailText::Response, response, true);
}

// After the login, so that the data connections run TLS too.
void TCustomFtpClient::ProtStep() {
    m_currentStep = stProt;
    m_errorBeforeTls = m_errorMessage;
    IssueCommand(m_requestType, QStringLiteral("PBSZ 0"), {200}, &TCustomFtpClient::pbszReplied);
}

void TCustomFtpClient::pbszReplied() {
    if (m_requestResult == 0) {
        sendStepCommand(QStringLiteral("PROT P"), {200}, &TCustomFtpClient::protReplied);
        return;
    }
    SignalDone(tolerateTlsRefusal(QStringLiteral("PBSZ"), QStringLiteral("the data connections go in plain text"))
                   ? 0
                   : m_requestResult);
}

void TCustomFtpClient::protReplied() {
    if (m_requestResult == 0) {
        m_dataTls = true;
        SignalDone(0);
        return;
    }
    SignalDone(tolerateTlsRefusal(QStringLiteral("PROT P"), QStringLiteral("the data connections go in plain text"))
                   ? 0
                   : m_requestResult);
}

// A TLS command the server refused: in ftpTlsWhenOffered the session goes on without
// it, and the refusal is no failure of the request; in ftpTlsRequired it is one. Either
// way the log says which.
bool TCustomFtpClient::tolerateTlsRefusal(const QString& command, const QString& consequence) {
    if (m_tlsMode != ftpTlsWhenOffered) {
        display(QStringLiteral("! %1 refused, and TLS is required").arg(command));
        return false;
    }
    display(QStringLiteral("! %1 refused: %2").arg(command, consequence));
    m_errorMessage = m_errorBeforeTls;
    m_requestResult = 0;
    return true;
}

void TCustomFtpClient::showTlsSession(const TAsyncSocket& socket, const QString& which) {
    display(QStringLiteral("! TLS ") + which + TlsSessionSummary(socket.TlsPeer()));
}

// ---- the data connections ----

// The data connection resumes the control connection's session, which servers demand
// (vsftpd's require_ssl_reuse), and checks the same name.
void TCustomFtpClient::secureDataSocket() {
    m_data->SetTlsContext(m_control->TlsContext());
    m_data->TlsTakeSessionOf(*m_control);
    m_data->SetTlsServer(m_hostName, m_control->PeerPort());
}

// Active mode: the accepted connection starts its handshake (we stay the TLS client)
// and onReady runs after it. False when the data connection runs no TLS.
bool TCustomFtpClient::startDataTls(Routine onReady) {
    if (!m_dataTls || m_dataPassive)
        return false;
    secureDataSocket();
    m_afterDataTls = onReady;
    m_data->OnTlsHandshakeDone = [this](TAsyncSocket*, quint16 error) { dataTlsDone(error); };
    m_data->StartTls();
    return true;
}

void TCustomFtpClient::dataTlsDone(quint16 error) {
    m_data->OnTlsHandshakeDone = nullptr;
    const Routine ready = m_afterDataTls;
    m_afterDataTls = nullptr;
    if (error != 0) {
        failDataConnection(error);
        return;
    }
    showTlsSession(*m_data, QStringLiteral("data connection: "));
    if (ready)
        (this->*ready)();
}
