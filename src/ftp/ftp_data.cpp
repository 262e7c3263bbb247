// The data connection of the FTP client: PORT or EPRT (or EPSV/PASV), uploads, downloads.
#include "ftp/custom_ftp_client.h"

#include "net/async_socket.h"
#include "net/notification_target.h"

#include <QFile>

#include <arpa/inet.h>
#include <sys/socket.h>

// ---- opening the data connection ----

void TCustomFtpClient::prepareDataSocket() {
    m_data->OnSessionAvailable = nullptr;
    m_data->OnSessionClosed = nullptr;
    m_data->OnDataAvailable = nullptr;
    m_data->OnDataSent = nullptr;
    m_data->OnSessionConnected = nullptr;
    m_data->OnTlsHandshakeDone = nullptr;
    if (m_data->State() != wsClosed)
        m_data->Close();
    m_data->SetTls(false);
    m_afterDataTls = nullptr;
    m_dataPassive = m_passive;
    m_passiveDone = false;
    m_passiveError = 0;
    m_onDataReady = nullptr;
    m_transferCount = 0;
    m_currentStep = stPort;
}

void TCustomFtpClient::PortStep() {
    if (!commandAllowed())
        return;
    prepareDataSocket();
    if (m_dataPassive)
        return passiveStep();
    TSocketAddress local;
    m_control->GetSockName(local);
    // The listener takes only the address the PORT command announces: nobody on
    // another interface can connect first and take the file.
    m_data->SetProto(QStringLiteral("tcp"));
    m_data->SetAddr(local.addressText());
    m_data->SetPort(QStringLiteral("0"));
    m_data->SetLingerOnOff(wsLingerOn);
    m_data->SetLingerTimeout(10);
    m_data->Listen();
    TSocketAddress bound;
    m_data->GetSockName(bound);
    const quint16 port = bound.port();
    QString command;
    if (local.isIPv6()) {
        // PORT carries IPv4 addresses only (RFC 2428); a zone means nothing to the server.
        command = QStringLiteral("EPRT |2|%1|%2|").arg(local.addressText().section('%', 0, 0)).arg(port);
    } else if (m_control->ResolvedAddress().isLoopback()) {
        command = QStringLiteral("PORT 127,0,0,1,%1,%2").arg(port >> 8).arg(port & 0xff);
    } else {
        const quint32 a = ntohl(local.ipv4());
        command = QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
                      .arg(a >> 24)
                      .arg((a >> 16) & 0xff)
                      .arg((a >> 8) & 0xff)
                      .arg(a & 0xff)
                      .arg(port >> 8)
                      .arg(port & 0xff);
    }
    IssueCommand(rqPort, command, {200, 227});
}

void TCustomFtpClient::passiveStep() {
    m_passiveVerb = PassiveVerb::Epsv;
    IssueCommand(rqPort, QStringLiteral("EPSV"), {229});
    m_replyHandler = &TCustomFtpClient::handlePassiveReply;
}

void TCustomFtpClient::handlePassiveReply() {
    if (!finalLine())
        return;
    m_awaitingReply = false;
    const int code = m_statusCode;
    if (m_passiveVerb == PassiveVerb::Epsv) {
        if (code == 229)
            if (const auto port = FtpExtendedPassivePort(m_lastLine))
                return connectPassive(*port);
        // Servers from before EPSV refuse it: ask the old way, which has no IPv6 form
        // (RFC 2428), so over IPv6 the refusal ends the transfer.
        if (!m_control->ResolvedAddress().isIPv6()) {
            m_passiveVerb = PassiveVerb::Pasv;
            SendCommand(QStringLiteral("PASV"));
            return;
        }
    } else if (code == 227) {
        if (const auto port = FtpPassivePort(m_lastLine))
            return connectPassive(*port);
    }
    failRequest(code, code, FailText::Reply);
}

void TCustomFtpClient::connectPassive(quint16 port) {
    try {
        // The address in a PASV reply is often a private one behind the server's NAT:
        // the server is where the control connection goes.
        m_data->SetAddr(m_control->PeerAddr());
        m_data->SetPort(QString::number(port));
        m_data->SetProto(QStringLiteral("tcp"));
        // The client connects, so its TLS starts with the connection.
        m_data->SetTls(m_dataTls);
        if (m_dataTls)
            secureDataSocket();
        m_data->OnSessionConnected = [this](TAsyncSocket*, quint16 error) { passiveConnected(error); };
        m_data->Connect();
    } catch (const ESocketException& e) {
        return failRequest(500, 500, FailText::Response, QStringLiteral("500 ESocketException: ") + e.text());
    }
    m_requestResult = 0;
    SignalDone(0);
}

void TCustomFtpClient::passiveConnected(quint16 error) {
    m_data->OnSessionConnected = nullptr;
    m_passiveDone = true;
    m_passiveError = error;
    if (error == 0 && m_dataTls)
        showTlsSession(*m_data, QStringLiteral("data connection: "));
    const Routine ready = m_onDataReady;
    m_onDataReady = nullptr;
    if (!ready)
        return;
    if (error != 0)
        failDataConnection(error);
    else
        (this->*ready)();
}

// Runs onReady once the data connection is there: when the server connects to the
// listener, or when the client's own connect (passive) has completed. False when a
// passive connect already failed (the request has ended).
bool TCustomFtpClient::armDataConnection(Routine onReady) {
    if (!m_dataPassive) {
        m_data->OnSessionAvailable = [this, onReady](TAsyncSocket*, quint16) { (this->*onReady)(); };
        return true;
    }
    if (!m_passiveDone) {
        m_onDataReady = onReady;
        return true;
    }
    if (m_passiveError == 0) {
        (this->*onReady)();
        return true;
    }
    failDataConnection(m_passiveError);
    return false;
}

void TCustomFtpClient::failDataConnection(quint16 error) {
    failRequest(500, error, FailText::Response, socketFailureText(*m_data, error));
}

// The accepted connection (active) or the connected socket (passive) carries the data.
bool TCustomFtpClient::takeDataHandle() {
    if (m_dataPassive)
        return true;
    const int handle = m_data->Accept();
    if (handle < 0)
        return false;
    m_data->Close();  // the listener; no handler is attached to it
    m_data->Dup(handle);
    return true;
}

void TCustomFtpClient::closeData() { m_data->Close(); }

void TCustomFtpClient::releaseLocalFile() { m_localFile.reset(); }

void TCustomFtpClient::TransferStatistics() {
    m_stopTick = nowMs();
    display(FtpTransferStatistics(m_transferCount, m_startTick == 0 ? 0 : m_stopTick - m_startTick));
}

bool TCustomFtpClient::Progress() {
    bool abort = false;
    if (OnProgress)
        OnProgress(this, m_transferCount + m_resumeAt, abort);
    if (abort) {
        display(QStringLiteral("! Abort requested"));
        closeData();
    }
    return !abort;
}

// Shared by the first reply of an upload and of a download: anything but 125 or 150.
void TCustomFtpClient::failTransferReply() { failRequest(m_statusCode, m_statusCode, FailText::Reply); }

// ---- uploads ----

void TCustomFtpClient::StorStep() { uploadStep(false); }
void TCustomFtpClient::AppeStep() { uploadStep(true); }

void TCustomFtpClient::uploadStep(bool append) {
    if (m_inRequest)
        m_requestType = append ? rqAppend : rqPut;
    else
        beginRequest(append ? rqAppend : rqPut);
    if (!m_controlOpen)
        return HandleError(QStringLiteral("STOR/APPE: not connected"));
    if (m_localFileName.isEmpty())
        return HandleError(QStringLiteral("LocalFileName empty"));
    if (!CheckReady())
        return;
    m_currentStep = append ? stAppe : stStor;
    m_finalReplyReceived = m_dataClosed = m_doneFlag = m_dataAccepted = m_storAnswered = m_writeFailed = false;
    m_sendPosted = m_sending = m_endOfFile = false;
    m_startTick = 0;
    m_transferCount = 0;
    m_dataCloseError = 0;
    ++m_transferSerial;

    bool cancel = false;
    if (OnReadyToTransmit)
        OnReadyToTransmit(this, cancel);
    if (cancel) {
        const QString text = QStringLiteral("426 Transmit cancelled by application");
        display(QStringLiteral("! ") + text);
        return failRequest(426, 426, FailText::Local, text);
    }
    if (!openUploadRange())
        return;
    if (!armDataConnection(&TCustomFtpClient::AcceptPutData))
        return;
    setState(fcWaitingReply);
    m_replyHandler = &TCustomFtpClient::HandleStorReply;
    SendCommand((append ? QStringLiteral("APPE ") : QStringLiteral("STOR ")) + m_hostFileName);
}

// Opens the local file at the first byte to send: its range's start plus what the
// server already holds. The upload sends the range's length less that, never more.
bool TCustomFtpClient::openUploadRange() {
    releaseLocalFile();
    m_localFile = std::make_unique<QFile>(m_localFileName);
    QString failure;
    if (!m_localFile->open(QIODevice::ReadOnly)) {
        failure = QStringLiteral("426 Unable to open local file ") + m_localFileName;
    } else {
        const qint64 fileSize = m_localFile->size();
        const qint64 start = qMax<qint64>(0, m_localFileStart);
        const qint64 length = m_localFileLength < 0 ? qMax<qint64>(0, fileSize - start) : m_localFileLength;
        const qint64 resume = qBound<qint64>(0, m_resumeAt, length);
        if (start + length > fileSize)
            failure = QStringLiteral("426 local file %1 holds %2 bytes, fewer than the %3 to send from byte %4")
                          .arg(m_localFileName)
                          .arg(fileSize)
                          .arg(length)
                          .arg(start);
        else if (!m_localFile->seek(start + resume))
            failure = QStringLiteral("426 Unable to open local file ") + m_localFileName;
        m_uploadSize = length - resume;
    }
    if (failure.isEmpty())
        return true;
    display(QStringLiteral("! ") + failure);
    failRequest(426, 426, FailText::Local, failure);
    return false;
}

void TCustomFtpClient::AcceptPutData() {
    if (takeDataHandle() && !startDataTls(&TCustomFtpClient::putDataReady))
        putDataReady();
}

void TCustomFtpClient::putDataReady() {
    m_data->OnSessionClosed = [this](TAsyncSocket*, quint16 error) { dataEnded(error); };
    m_data->OnDataAvailable = [this](TAsyncSocket*, quint16) { DiscardPutData(); };
    // The socket also reports a new connection writable once: sending has not begun
    // then, and it begins only through NotifySendData.
    m_data->OnDataSent = [this](TAsyncSocket*, quint16 error) {
        if (m_sending)
            SendNextBlock(error);
    };
    int sendBuffer = 0;
    socklen_t length = sizeof sendBuffer;
    if (getsockopt(m_data->HSocket(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, &length) != 0)
        return HandleError(QStringLiteral("winsock.getsockopt(SO_SNDBUF) failed"));
    m_data->SetLingerOnOff(wsLingerOff);
    m_data->SetLingerTimeout(10);
    m_data->SetLingerOption();
    m_dataAccepted = true;
    if (m_storAnswered)
        postSendData();
}

void TCustomFtpClient::postSendData() {
    if (m_sendPosted)
        return;
    m_sendPosted = true;
    m_target->post(NotifySendData, m_transferSerial);
}

void TCustomFtpClient::DiscardPutData() {
    char discard[2048];
    m_data->Receive(discard, sizeof discard);
}

void TCustomFtpClient::HandleStorReply() {
    if (!finalLine())
        return;
    if (m_statusCode != 125 && m_statusCode != 150)
        return failTransferReply();
    m_storAnswered = true;
    if (m_dataAccepted)
        postSendData();
    m_replyHandler = &TCustomFtpClient::HandleTransferReply;
}

void TCustomFtpClient::SendNextBlock(quint16 error) {
    // The progress handler may have aborted the whole request (and released the file).
    if (!m_localFile || !Progress() || !m_localFile)
        return;
    if (error != 0) {
        display(QStringLiteral("! Error #%1 sending data").arg(error));
        closeData();
        return;
    }
    if (m_endOfFile || !m_storAnswered || !m_dataAccepted)
        return;
    if (!m_sendBuffer)
        m_sendBuffer.reset(new char[kUploadBlock]);
    // Never past the range: a file that grows while it is sent does not grow the upload.
    const qint64 want = qMin<qint64>(kUploadBlock, m_uploadSize - m_transferCount);
    const qint64 count = want > 0 ? m_localFile->read(m_sendBuffer.get(), want) : 0;
    if (count < 0) {
        display(QStringLiteral("! Error reading file"));
        closeData();
        return;
    }
    if (count == 0) {
        // The close tells the server that the file is complete. Over TLS that is
        // close_notify, and the connection stays open for reading until the server
        // closes it: closing with its last records unread would reset the connection
        // under the end of the file.
        m_endOfFile = true;
        if (m_data->TlsActive())
            m_data->Shutdown(1);
        else
            closeData();
        return;
    }
    m_transferCount += count;
    m_data->Send(m_sendBuffer.get(), count);
}

void TCustomFtpClient::HandleTransferReply() {
    if (!finalLine())
        return;
    m_awaitingReply = false;
    if (m_statusCode == 226 || m_statusCode == 250) {
        m_finalReplyReceived = true;
        // The server has the whole file; a TLS data connection it has not closed yet is
        // closed now, and its close ends the transfer.
        if (!m_dataClosed && m_endOfFile)
            return closeData();
        transferEnd();
        return;
    }
    display(QStringLiteral("! STOR Failed"));
    failRequest(m_statusCode, m_statusCode, FailText::Reply);
}

// The data connection closed: by the client after the last block (upload), by the
// server after the last byte (download), or by a failure.
void TCustomFtpClient::dataEnded(quint16 error) {
    releaseLocalFile();
    m_dataClosed = true;
    m_dataCloseError = error;
    transferEnd();
}

// A transfer ends when both its closing reply and the close of its data connection
// have come, in either order; its result is the data connection's close error.
void TCustomFtpClient::transferEnd() {
    if (!m_finalReplyReceived || !m_dataClosed)
        return;
    TransferStatistics();
    m_resumeAt = 0;
    if (m_writeFailed) {
        // The server may well say 226: the local copy is still incomplete.
        return failRequest(426, 426, FailText::Local, QStringLiteral("426 Error writing local file ") + m_localFileName);
    }
    if (m_uploadSize >= 0 && !m_endOfFile) {
        // Only the close after the last block tells the server that the file is whole:
        // a connection that ended before it (the server closed it, a send failed) left
        // the file short, whatever the reply says.
        const QString text =
            QStringLiteral("426 data connection closed after %1 of %2 bytes").arg(m_transferCount).arg(m_uploadSize);
        display(QStringLiteral("! ") + text.mid(4));
        return failRequest(426, m_dataCloseError, FailText::Local, text);
    }
    m_requestResult = m_dataCloseError;
    SignalDone(m_dataCloseError);
}

// ---- downloads ----

void TCustomFtpClient::RetrStep() { downloadStep("RETR", rqGet); }
void TCustomFtpClient::ListStep() { downloadStep("LIST", rqList); }
void TCustomFtpClient::NlstStep() { downloadStep("NLST", rqNlst); }

void TCustomFtpClient::downloadStep(const char* verb, TFtpRequest type) {
    if (!m_controlOpen)
        return HandleError(QString::fromLatin1(verb) + QStringLiteral(": not connected"));
    if (m_localFileName.isEmpty() && !m_displayFileFlag)
        return HandleError(QStringLiteral("LocalFileName empty"));
    if (!CheckReady())
        return;
    if (!m_inRequest)
        beginRequest(type);
    m_currentStep = type == rqGet ? stRetr : type == rqList ? stList : stNlst;
    m_dataVerb = QString::fromLatin1(verb);
    m_uploadSize = -1;
    m_finalReplyReceived = m_dataClosed = m_doneFlag = m_dataAccepted = m_writeFailed = false;
    m_transferCount = 0;
    m_dataCloseError = 0;
    ++m_transferSerial;
    releaseLocalFile();
    if (!m_displayFileFlag) {
        m_localFile = std::make_unique<QFile>(m_localFileName);
        const bool opened = m_resumeAt > 0
                                ? m_localFile->open(QIODevice::ReadWrite) && m_localFile->seek(m_resumeAt)
                                : m_localFile->open(QIODevice::WriteOnly | QIODevice::Truncate);
        if (!opened)
            return failRequest(550, 550, FailText::Response, QStringLiteral("Unable to open local file ") + m_localFileName);
    }
    if (!armDataConnection(&TCustomFtpClient::AcceptGetData))
        return;
    setState(fcWaitingReply);
    m_replyHandler = &TCustomFtpClient::HandleGetReply;
    SendCommand(m_hostFileName.isEmpty() ? m_dataVerb : m_dataVerb + ' ' + m_hostFileName);
}

void TCustomFtpClient::AcceptGetData() {
    if (takeDataHandle() && !startDataTls(&TCustomFtpClient::getDataReady))
        getDataReady();
}

void TCustomFtpClient::getDataReady() {
    m_data->OnDataAvailable = [this](TAsyncSocket*, quint16) { ReceiveGetData(); };
    m_data->OnSessionClosed = [this](TAsyncSocket*, quint16 error) { dataEnded(error); };
    m_data->OnDataSent = nullptr;
    m_dataAccepted = true;
    m_startTick = nowMs();
}

void TCustomFtpClient::HandleGetReply() {
    // A multi-line preliminary reply is legal: only its last line decides.
    if (!finalLine())
        return;
    if (m_statusCode != 125 && m_statusCode != 150)
        return failTransferReply();
    m_replyHandler = &TCustomFtpClient::HandleGetTransferReply;
}

void TCustomFtpClient::HandleGetTransferReply() {
    if (!finalLine())
        return;
    m_awaitingReply = false;
    if (m_statusCode == 125 || m_statusCode == 226 || m_statusCode == 250) {
        m_finalReplyReceived = true;
        transferEnd();
        return;
    }
    display(QStringLiteral("! RETR/LIST/NLST Failed"));
    failRequest(m_statusCode, m_statusCode, FailText::Reply);
}

void TCustomFtpClient::ReceiveGetData() {
    if (!Progress() || m_data->State() != wsConnected)
        return;
    char buffer[kReceiveChunk];
    const qint64 count = m_data->Receive(buffer, sizeof buffer);
    if (count < 0) {
        if (m_data->State() == wsConnected && m_data->LastError() != WSAEWOULDBLOCK) {
            display(QStringLiteral("! Data: Receive error %1").arg(m_data->LastError()));
            m_data->Shutdown(2);
        }
        return;
    }
    if (count == 0)
        return;
    m_transferCount += count;
    if (m_localFile && m_localFile->write(buffer, count) != count && !m_writeFailed) {
        m_writeFailed = true;
        display(QStringLiteral("! Error writing local file"));
        m_data->Shutdown(2);
    }
    if (m_displayFileFlag && OnDisplayFile) {
        qint64 start = 0;
        for (qint64 i = 0; i <= count; ++i) {
            if (i < count && buffer[i] != '\r' && buffer[i] != '\n')
                continue;
            if (i > start) {
                QString piece = QString::fromUtf8(buffer + start, i - start);
                OnDisplayFile(this, piece);
            }
            start = i + 1;
        }
    }
}
