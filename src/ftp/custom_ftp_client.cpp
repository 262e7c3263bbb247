// The request engine of the FTP client and its control connection.
#include "ftp/custom_ftp_client.h"

#include "ftp/password_mask.h"
#include "net/async_socket.h"
#include "net/notification_target.h"
#include "net/tls_error.h"

#include <QFile>
#include <QPointer>

#include <arpa/inet.h>
#include <chrono>

namespace {

// The order in which the steps of a request run, whatever order they were given in.
constexpr TFtpStep kStepOrder[] = {stOpen, stUser, stPass, stProt, stCwd,  stCdup, stType,  stPort,
                                   stRest, stRetr, stStor, stAppe, stList, stNlst, stSyst,  stMkd,
                                   stRmd,  stRnfr, stRnto, stSize, stDele, stPwd,  stQuote, stQuit};

}  // namespace

TCustomFtpClient::TCustomFtpClient(QObject* owner) : QObject(owner), m_port(QStringLiteral("ftp")) {
    m_control = new TAsyncSocket(this);
    m_data = new TAsyncSocket(this);
    m_target = new NotificationTarget([this](int msg, qintptr w, qintptr l) { handleNotification(msg, w, l); });
    m_control->OnSessionConnected = [this](TAsyncSocket*, quint16 e) { controlSessionConnected(e); };
    m_control->OnDataAvailable = [this](TAsyncSocket*, quint16) { controlDataAvailable(); };
    m_control->OnSessionClosed = [this](TAsyncSocket*, quint16 e) { controlSessionClosed(e); };
    m_control->OnDnsLookupDone = [this](TAsyncSocket*, quint16 e) { controlDnsLookupDone(e); };
    m_control->OnTlsHandshakeDone = [this](TAsyncSocket*, quint16 e) { controlTlsDone(e); };
}

TCustomFtpClient::~TCustomFtpClient() {
    // The sockets close without events; their handlers point at this client.
    delete m_data;
    delete m_control;
    m_data = m_control = nullptr;
    // Possibly called from inside our own OnRequestDone: the target frees itself later.
    m_target->release();
}

TFtpShareMode TCustomFtpClient::ShareMode() const {
    switch (m_shareWord) {
    case ftpShareCompat:
    case ftpShareDenyWrite:
    case ftpShareDenyRead:
    case ftpShareDenyNone:
        return TFtpShareMode(m_shareWord);
    default:
        return ftpShareExclusive;
    }
}

bool TCustomFtpClient::Connected() const { return m_control->State() != wsClosed; }

qint64 TCustomFtpClient::nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TCustomFtpClient::setState(TFtpClientState state) {
    if (state == m_state)
        return;
    m_state = state;
    if (OnStateChange)
        OnStateChange(this);
}

void TCustomFtpClient::HandleError(const QString& text) {
    if (OnError) {
        OnError(this, text);
        return;
    }
    throw FtpException(text);
}

bool TCustomFtpClient::CheckReady() {
    if (m_state == fcReady || m_state == fcBetweenSteps)
        return true;
    HandleError(QStringLiteral("FTP component not ready"));
    return false;
}

void TCustomFtpClient::display(const QString& text) {
    if (!OnDisplay)
        return;
    // The password never reaches a log: not in the PASS line, nor where a server echoes it.
    QString msg = MaskPassword(text, m_passWord);
    OnDisplay(this, msg);
}

void TCustomFtpClient::setErrorState(int statusCode, const QString& message) {
    m_errorMessage = MaskPassword(message, m_passWord);
    m_statusCode = statusCode;
}

void TCustomFtpClient::storeErrorMessage() {
    if (m_errorMessage.isEmpty())
        m_errorMessage = m_lastResponse;
}

void TCustomFtpClient::failRequest(int status, int error, FailText kind, const QString& text, bool closeControl) {
    m_awaitingReply = false;
    m_replyHandler = nullptr;
    m_continueRequest = nullptr;
    switch (kind) {
    case FailText::Response:
        m_lastResponse = MaskPassword(text, m_passWord);
        storeErrorMessage();
        break;
    case FailText::Reply:
        storeErrorMessage();
        break;
    case FailText::Remark:
        if (m_errorMessage.isEmpty())
            m_errorMessage = MaskPassword(text, m_passWord);
        break;
    case FailText::Local:
        m_errorMessage = MaskPassword(text, m_passWord);
        break;
    }
    m_statusCode = m_requestResult = status;
    m_resumeAt = 0;
    releaseLocalFile();
    if (m_data->State() != wsClosed)
        closeData();
    SignalDone(error != 0 ? error : status);
    if (closeControl) {
        m_control->Close();
        setState(fcReady);
    }
}

void TCustomFtpClient::beginRequest(TFtpRequest type) {
    m_requestType = type;
    ++m_requestSerial;
}

// ---- requests ----

void TCustomFtpClient::StartRequest(TFtpRequest type, TFtpStepSet steps) {
    if (m_controlOpen && (steps & StepBit(stOpen))) {
        HandleError(QStringLiteral("FTP component already connected"));
        return;
    }
    if (!CheckReady())
        return;
    m_savedResponse = m_lastResponse;
    m_savedStatus = -1;
    beginRequest(type);
    m_requestResult = 0;
    m_stepSet = steps;
    m_currentStep = stNone;
    m_requestOutcome = 0;
    m_inRequest = true;
    m_lastResponse.clear();
    m_errorMessage.clear();
    try {
        RunNextStep();
    } catch (...) {
        // A first step that raised (a listening socket that cannot bind) leaves no
        // request running: the next single step must report its own number.
        if (m_state == fcReady || m_state == fcBetweenSteps) {
            m_inRequest = false;
            m_continueRequest = nullptr;
        }
        throw;
    }
}

void TCustomFtpClient::RunNextStep() {
    if (m_state == fcAborting) {
        m_stepSet = 0;
        m_requestOutcome = 426;
        m_errorMessage = QStringLiteral("426 Operation aborted.");
    }
    m_continueRequest = &TCustomFtpClient::RunNextStep;
    for (TFtpStep step : kStepOrder) {
        if (!(m_stepSet & StepBit(step)))
            continue;
        m_stepSet &= ~StepBit(step);
        if (step == stPass && m_currentStep == stUser && m_statusCode != 331)
            continue;  // USER was answered 230: no password wanted
        if (step == stCwd && m_hostDirName.isEmpty())
            continue;
        if (step == stProt && !m_control->TlsEstablished())
            continue;
        if (step == stRetr && !(m_currentStep == stRest && m_statusCode == 350 && m_resumeAt >= 0))
            m_resumeAt = 0;
        if (step == stQuit) {
            // The request reports the reply that came before QUIT.
            m_savedResponse = m_lastResponse;
            m_savedStatus = m_statusCode;
        }
        m_currentStep = step;
        runStep(step);
        return;
    }
    m_continueRequest = nullptr;
    m_doneFlag = false;
    SignalDone(m_requestOutcome);
}

void TCustomFtpClient::runStep(TFtpStep step) {
    static const Routine routines[] = {
        nullptr,                       &TCustomFtpClient::OpenStep,  &TCustomFtpClient::UserStep,
        &TCustomFtpClient::PassStep,   &TCustomFtpClient::CwdStep,   &TCustomFtpClient::SizeStep,
        &TCustomFtpClient::MkdStep,    &TCustomFtpClient::RmdStep,   &TCustomFtpClient::RnfrStep,
        &TCustomFtpClient::RntoStep,   &TCustomFtpClient::RetrStep,  &TCustomFtpClient::ListStep,
        &TCustomFtpClient::QuitStep,   &TCustomFtpClient::SystStep,  &TCustomFtpClient::DeleStep,
        &TCustomFtpClient::PwdStep,    &TCustomFtpClient::QuoteStep, &TCustomFtpClient::StorStep,
        &TCustomFtpClient::TypeStep,   &TCustomFtpClient::RestStep,  &TCustomFtpClient::CdupStep,
        &TCustomFtpClient::NlstStep,   &TCustomFtpClient::AppeStep,  &TCustomFtpClient::PortStep,
        &TCustomFtpClient::ProtStep};
    (this->*routines[step])();
}

void TCustomFtpClient::SignalDone(int error) {
    if (m_doneFlag)
        return;
    m_doneFlag = true;
    if (error == 0 && m_continueRequest) {
        if (m_state != fcAborting)
            setState(fcBetweenSteps);
        try {
            (this->*m_continueRequest)();
        } catch (const UserError& e) {
            // A step that cannot start (PASS without a password) runs from a socket event:
            // raised there, nobody would hear of it and the request would wait for ever.
            failStep(e.text());
        }
        return;
    }
    setState(fcReady);
    m_continueRequest = nullptr;
    // A synchronous call reads its result here: an aborted request is no success.
    if (error != 0)
        m_requestResult = error;
    if (m_data->State() != wsClosed)
        closeData();
    if (m_inRequest && m_savedStatus >= 0) {
        m_lastResponse = m_savedResponse;
        m_statusCode = m_savedStatus;
    }
    m_inRequest = false;
    // The request's number travels with its end (DoneSerial).
    m_target->post(NotifyRequestDone, qintptr(m_requestType) | (qintptr(m_requestSerial) << 8), quint16(error));
}

// The request ends at once with the step's reason, as if the server had refused it.
void TCustomFtpClient::failStep(const QString& reason) {
    display(QStringLiteral("! ") + reason);
    m_doneFlag = false;
    failRequest(500, 500, FailText::Remark, reason);
}

void TCustomFtpClient::handleNotification(int msg, qintptr wParam, qintptr lParam) {
    try {
        if (msg == NotifyRequestDone) {
            // Nothing of the client is touched after the handler: it may delete us.
            m_doneSerial = quint32(quint64(wParam) >> 8);
            if (OnRequestDone)
                OnRequestDone(this, TFtpRequest(wParam & 0xff), quint16(lParam));
            return;
        }
        if (msg == NotifySendData && wParam == m_transferSerial && !m_sending) {
            m_sending = true;
            m_startTick = nowMs();
            SendNextBlock(0);
        }
    } catch (const std::exception& e) {
        bool canClose = true;
        try {
            if (OnBgException)
                OnBgException(this, e, canClose);
        } catch (...) {
            // An exception of the background-exception handler itself is dropped.
        }
    }
}

bool TCustomFtpClient::commandAllowed() {
    if (!CheckReady())
        return false;
    if (!m_controlOpen) {
        HandleError(QStringLiteral("FTP component not connected"));
        return false;
    }
    return true;
}

void TCustomFtpClient::IssueCommand(TFtpRequest type, const QString& command, std::initializer_list<int> accepted,
                                    Routine afterReply) {
    if (!commandAllowed())
        return;
    if (!m_inRequest)
        beginRequest(type);
    sendStepCommand(command, accepted, afterReply);
}

void TCustomFtpClient::sendStepCommand(const QString& command, std::initializer_list<int> accepted,
                                       Routine afterReply) {
    int n = 0;
    for (int code : accepted)
        if (n < 15)
            m_acceptedCodes[n++] = code;
    m_acceptedCodes[n] = 0;
    m_doneFlag = false;
    m_replyHandler = &TCustomFtpClient::HandleStepReply;
    m_afterReply = afterReply;
    setState(fcWaitingReply);
    SendCommand(command);
}

void TCustomFtpClient::SendCommand(const QString& text) {
    QString command = text;
    if (OnCommand)
        OnCommand(this, command);
    display(QStringLiteral("> ") + command);
    m_awaitingReply = true;
    if (m_control->State() == wsConnected)
        m_control->SendStr(command + QStringLiteral("\r\n"));
}

void TCustomFtpClient::ShowReply() { display(QStringLiteral("< ") + m_lastResponse); }

// Shows the line; true when it is the final line of a reply (multi-line openers, their
// text lines and empty lines are passed over).
bool TCustomFtpClient::finalLine() {
    ShowReply();
    return ScanFtpReplyCode(m_lastLine).final;
}

void TCustomFtpClient::HandleStepReply() {
    if (!finalLine())
        return;
    m_awaitingReply = false;
    const int code = m_statusCode;
    if (m_acceptedCodes[0] == 0) {
        m_requestResult = code >= 500 ? code : 0;
    } else {
        m_requestResult = code;
        for (int i = 0; m_acceptedCodes[i] != 0; ++i)
            if (m_acceptedCodes[i] == code)
                m_requestResult = 0;
    }
    if (m_requestResult != 0) {
        storeErrorMessage();
    } else if (m_currentStep == stSize) {
        m_replySize = FtpReplyNumber(m_lastLine);
    } else if (m_currentStep == stCwd || m_currentStep == stMkd || m_currentStep == stPwd ||
               m_currentStep == stCdup) {
        m_replyPath = QString::fromUtf8(FtpReplyQuotedPath(m_lastLine));
    }
    if (m_afterReply)
        (this->*m_afterReply)();
    else
        SignalDone(m_requestResult);
}

// ---- control connection ----

QString TCustomFtpClient::socketFailureText(int error) const {
    return QStringLiteral("500 ") + SocketErrorDesc(error) + QStringLiteral(" (Winsock error #") +
           QString::number(error) + ')';
}

// A failed TLS handshake names the server and OpenSSL's reason.
QString TCustomFtpClient::socketFailureText(const TAsyncSocket& socket, int error) const {
    if (error >= TLS_ERR_HANDSHAKE && error <= TLS_ERR_CONNECTION && !socket.TlsErrorText().isEmpty())
        return QStringLiteral("500 ") + socket.TlsErrorText() + QStringLiteral(" (Error #%1)").arg(error);
    return socketFailureText(error);
}

void TCustomFtpClient::OpenStep() {
    if (!CheckReady())
        return;
    if (m_controlOpen) {
        HandleError(QStringLiteral("FTP component already connected"));
        return;
    }
    if (!m_inRequest)
        beginRequest(rqOpen);
    m_currentStep = stOpen;
    m_doneFlag = false;
    m_dataTls = false;
    m_offersRestStream = false;
    m_reader.clear();
    m_requestResult = 0;
    setState(fcLookingUp);
    m_control->DnsLookup(m_hostName);
}

void TCustomFtpClient::controlDnsLookupDone(quint16 error) {
    if (error != 0)
        return failRequest(500, error, FailText::Response, socketFailureText(error));
    if (m_state != fcLookingUp)
        return;
    try {
        m_control->SetAddr(m_control->DnsResult());
        m_control->SetProto(QStringLiteral("tcp"));
        m_control->SetPort(m_port);
        setState(fcWaitingBanner);
        m_awaitingReply = true;
        m_control->Connect();
    } catch (const ESocketException& e) {
        failRequest(500, 500, FailText::Response, QStringLiteral("500 ESocketException: ") + e.text());
    }
}

void TCustomFtpClient::controlSessionConnected(quint16 error) {
    if (error != 0) {
        // A name with several addresses that all failed: say which were tried.
        QString text = socketFailureText(error);
        if (const QString tried = m_control->TriedAddressesText(); !tried.isEmpty())
            text += QStringLiteral(" (tried ") + tried + ')';
        return failRequest(500, error, FailText::Response, text, true);
    }
    m_controlOpen = true;
}

void TCustomFtpClient::controlDataAvailable() {
    if (m_reader.room() == 0)
        return failOverlongReply();
    const qint64 count = m_control->Receive(m_reader.writePtr(), m_reader.room());
    if (count == 0) {
        m_control->Close();
        return;
    }
    if (count < 0)
        return;
    m_reader.commit(count);
    QPointer<TCustomFtpClient> alive(this);
    while (alive && m_reader.size() > 0) {
        const std::optional<QByteArray> line = m_reader.takeLine(m_options & ftpAcceptLF);
        if (!line)
            break;
        m_lastLine = *line;
        m_lastResponse = MaskPassword(FtpReplyText(*line), m_passWord);
        const FtpReplyCode code = ScanFtpReplyCode(*line);
        if (code.numbered)
            m_statusCode = code.code;
        if (OnResponse)
            OnResponse(this);
        if (!alive)
            return;
        if (m_state == fcWaitingBanner) {
            if (!handleBanner())
                return;
        } else if (m_state == fcWaitingReply) {
            if (!m_replyHandler)
                HandleError(QStringLiteral("Program error: FNext is nil"));
            else
                (this->*m_replyHandler)();
        } else {
            ShowReply();
        }
    }
    // The buffer is full and holds no line end: no reply of a sound server is that long.
    if (alive && m_reader.room() == 0)
        failOverlongReply();
}

void TCustomFtpClient::failOverlongReply() {
    m_reader.clear();
    m_lastResponse = QStringLiteral("500 reply line longer than %1 bytes").arg(FtpReplyReader::kCapacity);
    m_statusCode = m_requestResult = 500;
    storeErrorMessage();
    display(QStringLiteral("! ") + m_lastResponse.mid(4));
    m_control->Close();
}

// False when the greeting refused us and the rest of the buffer is not to be read.
bool TCustomFtpClient::handleBanner() {
    if (!finalLine())
        return true;
    m_awaitingReply = false;
    if (m_statusCode != 220) {
        storeErrorMessage();
        m_requestResult = m_statusCode;
        m_control->Close();
        return false;
    }
    setState(fcConnected);
    if (OnSessionConnected)
        OnSessionConnected(this, 0);
    if (m_tlsMode != ftpTlsOff)
        authTls();
    else
        SignalDone(0);
    return true;
}

void TCustomFtpClient::controlSessionClosed(quint16 error) {
    if (m_controlOpen) {
        m_controlOpen = false;
        if (m_state != fcAborting)
            setState(fcNotConnected);
        if (OnSessionClosed)
            OnSessionClosed(this, error);
    }
    if (m_awaitingReply && m_state != fcAborting && m_requestResult == 0) {
        // The server went away while a reply was owed: that is no success.
        m_lastResponse = QStringLiteral("426 Connection closed by the server");
        m_statusCode = m_requestResult = 426;
        storeErrorMessage();
    }
    m_awaitingReply = false;
    if (m_state != fcAborting)
        setState(fcBetweenSteps);
    SignalDone(m_requestResult);
}

void TCustomFtpClient::quitAfterReply() { m_control->Close(); }

void TCustomFtpClient::AbortNow() {
    const bool wasLookingUp = m_state == fcLookingUp;
    setState(fcAborting);
    releaseLocalFile();
    if (wasLookingUp)
        m_control->CancelDnsLookup();
    if (m_control->State() != wsClosed)
        m_control->Close();
    if (m_data->State() != wsClosed)
        closeData();
    releaseLocalFile();
    m_controlOpen = false;
    m_awaitingReply = false;
    setState(fcReady);
}
