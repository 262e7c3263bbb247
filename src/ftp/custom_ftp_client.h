#pragma once

#include "ftp/ftp_reply.h"
#include "ftp/ftp_types.h"

#include <QObject>
#include <QString>
#include <QtGlobal>

#include <initializer_list>
#include <memory>

class NotificationTarget;
class QFile;
class TAsyncSocket;

// The FTP protocol engine (RFC 959) on the event loop: one request at a time, each made
// of command steps, over one control connection and one data connection per transfer.
// Every starting operation returns at once; its outcome arrives through OnRequestDone,
// which always comes from a deferred notification after every other event of the
// request, and the client touches nothing of itself after that handler returns (the
// handler may delete the client).
//
// The data connection is opened by the server (PORT, the default) or, with Passive set,
// by the client (EPSV, and PASV when the server refuses EPSV).
//
// With TlsMode other than ftpTlsOff the open step sends AUTH TLS after the greeting and
// runs the TLS handshake before USER; after the login PBSZ 0 and PROT P put the data
// connections under TLS too (each resumes the control connection's session; the client
// is the TLS client whoever connects). The server's certificate is checked with what the
// process's TlsConfiguration trusts; a refused one fails the request with
// TLS_ERR_CERTIFICATE and is noted there. A handshake that fails after the server's 234
// (or a server that goes on in plain text) fails the request in every mode: only a
// refused AUTH TLS may fall back to plain text. The protocol and cipher of every TLS
// connection are shown once through OnDisplay ("! TLS ...").
//
// Replies are kept and shown as text (FtpReplyText: a NUL or a terminal escape made
// visible), and neither a shown line nor LastResponse nor ErrorMessage holds the
// password (MaskPassword), where a server echoes it too.
class TCustomFtpClient : public QObject {
public:
    // One upload block is read and sent at a time, the next when the socket has handed
    // the previous one to the kernel, so every block costs one pass of the event loop.
    // Blocks of an Ethernet frame (1514 bytes) reached 0.3-0.4x curl's upload speed on
    // loopback, 64 KiB to 1 MiB 0.7-1.0x (bench/README.md); the file is still read in
    // bounded chunks.
    static constexpr qint64 kUploadBlock = 256 * 1024;
    static constexpr qint64 kReceiveChunk = 2048;

    explicit TCustomFtpClient(QObject* owner = nullptr);
    ~TCustomFtpClient() override;
    TCustomFtpClient(const TCustomFtpClient&) = delete;
    TCustomFtpClient& operator=(const TCustomFtpClient&) = delete;

    // ---- published properties ----
    QString HostName() const { return m_hostName; }
    void SetHostName(const QString& v) { m_hostName = v; }
    QString Port() const { return m_port; }  // "ftp"
    void SetPort(const QString& v) { m_port = v; }
    QString UserName() const { return m_userName; }
    void SetUserName(const QString& v) { m_userName = v; }
    QString PassWord() const { return m_passWord; }
    void SetPassWord(const QString& v) { m_passWord = v; }
    QString HostDirName() const { return m_hostDirName; }
    void SetHostDirName(const QString& v) { m_hostDirName = v; }
    QString HostFileName() const { return m_hostFileName; }
    void SetHostFileName(const QString& v) { m_hostFileName = v; }
    QString LocalFileName() const { return m_localFileName; }
    void SetLocalFileName(const QString& v) { m_localFileName = v; }
    // Beyond the classic client: an upload sends the bytes of the local file from this
    // offset on (0), this many of them (-1: to the end), so that one file can be sent in
    // byte ranges without copies; REST resumes inside the range.
    qint64 LocalFileStart() const { return m_localFileStart; }
    void SetLocalFileStart(qint64 v) { m_localFileStart = v; }
    qint64 LocalFileLength() const { return m_localFileLength; }
    void SetLocalFileLength(qint64 v) { m_localFileLength = v; }
    bool DisplayFileFlag() const { return m_displayFileFlag; }
    void SetDisplayFileFlag(bool v) { m_displayFileFlag = v; }
    bool Binary() const { return m_typeLetter == 'I'; }  // true
    void SetBinary(bool v) { m_typeLetter = v ? 'I' : 'A'; }
    QString ErrorMessage() const { return m_errorMessage; }
    TFtpShareMode ShareMode() const;  // ftpShareExclusive
    void SetShareMode(TFtpShareMode v) { m_shareWord = quint16(v); }
    TFtpOptions Options() const { return m_options; }  // ftpAcceptLF
    void SetOptions(TFtpOptions v) { m_options = v; }
    // Beyond the classic client: the client opens the data connection (EPSV, then PASV)
    // and reaches the server through a home router's NAT.
    bool Passive() const { return m_passive; }  // false
    void SetPassive(bool v) { m_passive = v; }
    // Beyond the classic client: FTP over TLS (see above).
    TFtpTlsMode TlsMode() const { return m_tlsMode; }  // ftpTlsOff
    void SetTlsMode(TFtpTlsMode v) { m_tlsMode = v; }
    qint64 Tag() const { return m_tag; }
    void SetTag(qint64 v) { m_tag = v; }

    // ---- published events ----
    TFtpDisplay OnDisplay;
    TFtpDisplay OnDisplayFile;
    TFtpCommand OnCommand;
    TFtpNotify OnResponse;
    TFtpProgress OnProgress;
    TFtpSessionEvent OnSessionConnected;
    TFtpSessionEvent OnSessionClosed;
    TFtpRequestDone OnRequestDone;
    TFtpNotify OnStateChange;
    TFtpReadyToTransmit OnReadyToTransmit;
    TFtpBgException OnBgException;
    // Not published: when set, caller errors go here instead of raising FtpException.
    TFtpError OnError;

    // ---- run-time members ----
    TFtpClientState State() const { return m_state; }
    bool Connected() const;
    int StatusCode() const { return m_statusCode; }
    QString LastResponse() const { return m_lastResponse; }
    TFtpRequest RequestType() const { return m_requestType; }
    QString ReplyPath() const { return m_replyPath; }
    qint64 ReplySize() const { return m_replySize; }
    qint64 TransferCount() const { return m_transferCount; }
    qint64 ResumeAt() const { return m_resumeAt; }
    void SetResumeAt(qint64 v) { m_resumeAt = v; }
    // The last FEAT reply of this session listed REST STREAM: a store may be resumed.
    bool OffersRestStream() const { return m_offersRestStream; }
    // Each request gets a number when it starts; OnRequestDone reports the number of the
    // request it ends in DoneSerial, so that a caller who has gone on (after a time-out)
    // can tell the late end of an earlier request from the end of the one it waits for.
    quint32 RequestSerial() const { return m_requestSerial; }
    quint32 DoneSerial() const { return m_doneSerial; }
    // The outcome of the step or request in progress, or of the last one: 0, or the
    // failing code (a reply code, 500 for a step that could not start, a socket or TLS
    // error number such as TLS_ERR_HANDSHAKE).
    int RequestResult() const { return m_requestResult; }
    TAsyncSocket* ControlSocket() const { return m_control; }
    TAsyncSocket* DataSocket() const { return m_data; }

    // ---- single steps ----
    void OpenStep();
    void UserStep();
    void PassStep();
    void CwdStep();
    void CdupStep();
    void PwdStep();
    void MkdStep();
    void RmdStep();
    void DeleStep();
    void RnfrStep();
    void RntoStep();
    void SystStep();
    void SizeStep();
    void RestStep();
    void TypeStep();
    void TypeBinaryStep();
    void TypeAsciiStep();
    void QuoteStep();
    void PortStep();
    void QuitStep();
    void RetrStep();
    void ListStep();
    void NlstStep();
    void StorStep();
    void AppeStep();
    void FeatStep();

    // ---- multi-step requests ----
    void StartConnect();
    void StartGetSession();
    void StartList();
    void StartNlst();
    void StartGet();
    void StartListSession();
    void StartNlstSession();
    void StartSystSession();
    void StartSizeSession();
    void StartPut();
    // PORT, REST ResumeAt (answered 350), STOR: the rest of the local file (or range).
    void StartResumePut();
    void StartAppend();
    void StartRenameSession();
    void StartRename();
    void StartDeleSession();
    void StartMkdSession();
    void StartRmdSession();
    void StartQuoteSession();
    void StartPutSession();
    void StartAppendSession();
    void StartResumeGet();
    void StartResumeGetSession();

    // Ends whatever runs, in every state; closes both connections.
    void AbortNow();

protected:
    // Before each block sent or chunk received: fires OnProgress; false when aborted.
    virtual bool Progress();
    void HandleError(const QString& text);
    NotificationTarget* Target() const { return m_target; }
    void setErrorState(int statusCode, const QString& message);

    // How a failed request keeps its text.
    enum class FailText {
        Reply,     // the failing reply, already in LastResponse, is the error (unless one is held)
        Response,  // the text becomes LastResponse, and the error unless one is held
        Remark,    // the text is the error unless one is held; LastResponse stays
        Local      // the text replaces the error: a failure on this side
    };
    // The one ending of a failed request: no reply is awaited any more, the local file
    // and the data connection are released, StatusCode and RequestResult take `status`,
    // and OnRequestDone follows with `error` (the status when 0). With closeControl the
    // control connection closes after it, and the client is ready for a new login.
    void failRequest(int status, int error, FailText kind, const QString& text = QString(),
                     bool closeControl = false);

private:
    using Routine = void (TCustomFtpClient::*)();
    enum Notification { NotifyRequestDone = 1, NotifySendData = 2 };
    void beginRequest(TFtpRequest type);
    enum class PassiveVerb { Epsv, Pasv };

    // engine
    void setState(TFtpClientState state);
    bool CheckReady();
    void StartRequest(TFtpRequest type, TFtpStepSet steps);
    void RunNextStep();
    void runStep(TFtpStep step);
    bool commandAllowed();
    void IssueCommand(TFtpRequest type, const QString& command, std::initializer_list<int> accepted,
                      Routine afterReply = nullptr);
    // The part of IssueCommand after its checks: a command inside a step that has begun.
    void sendStepCommand(const QString& command, std::initializer_list<int> accepted, Routine afterReply);
    void SendCommand(const QString& text);
    void ShowReply();
    void display(const QString& text);
    void SignalDone(int error);
    void storeErrorMessage();
    void failStep(const QString& reason);
    bool finalLine();
    void HandleStepReply();
    void handleNotification(int msg, qintptr wParam, qintptr lParam);

    // control connection
    void controlDnsLookupDone(quint16 error);
    void controlSessionConnected(quint16 error);
    void controlDataAvailable();
    void controlSessionClosed(quint16 error);
    bool handleBanner();
    void failOverlongReply();
    QString socketFailureText(int error) const;
    QString socketFailureText(const TAsyncSocket& socket, int error) const;
    void quitAfterReply();

    // TLS (ftp_tls.cpp)
    void ProtStep();
    void authTls();
    void authTlsReplied();
    void controlTlsDone(quint16 error);
    void failControlTls(quint16 error, const QString& response);
    void pbszReplied();
    void protReplied();
    bool tolerateTlsRefusal(const QString& command, const QString& consequence);
    void showTlsSession(const TAsyncSocket& socket, const QString& which);
    void secureDataSocket();
    bool startDataTls(Routine onReady);
    void dataTlsDone(quint16 error);

    // data connection
    void prepareDataSocket();
    void passiveStep();
    void handlePassiveReply();
    void connectPassive(quint16 port);
    void passiveConnected(quint16 error);
    bool armDataConnection(Routine onReady);
    void failDataConnection(quint16 error);
    void failTransferReply();
    void uploadStep(bool append);
    void AcceptPutData();
    void putDataReady();
    void HandleStorReply();
    void HandleTransferReply();
    void dataEnded(quint16 error);
    void transferEnd();
    void SendNextBlock(quint16 error);
    void postSendData();
    bool openUploadRange();
    void HandleFeatReply();
    void DiscardPutData();
    void downloadStep(const char* verb, TFtpRequest type);
    void AcceptGetData();
    void getDataReady();
    void HandleGetReply();
    void HandleGetTransferReply();
    void ReceiveGetData();
    void TransferStatistics();
    bool takeDataHandle();
    void closeData();
    void releaseLocalFile();
    static qint64 nowMs();

    // published
    QString m_hostName, m_port, m_userName, m_passWord, m_hostDirName, m_hostFileName, m_localFileName;
    qint64 m_localFileStart = 0;
    qint64 m_localFileLength = -1;
    bool m_displayFileFlag = false;
    char m_typeLetter = 'I';
    QString m_errorMessage;
    quint16 m_shareWord = ftpShareExclusive;
    TFtpOptions m_options = ftpAcceptLF;
    bool m_passive = false;
    TFtpTlsMode m_tlsMode = ftpTlsOff;
    qint64 m_tag = 0;

    // run-time
    TFtpClientState m_state = fcReady;
    int m_statusCode = 0;
    QString m_lastResponse;
    QByteArray m_lastLine;
    TFtpRequest m_requestType = rqNone;
    QString m_replyPath;
    qint64 m_replySize = 0;
    qint64 m_transferCount = 0;
    qint64 m_resumeAt = 0;
    bool m_offersRestStream = false;
    quint32 m_requestSerial = 0;
    quint32 m_doneSerial = 0;

    // engine
    bool m_controlOpen = false;
    int m_requestResult = 0;
    bool m_doneFlag = false;
    bool m_inRequest = false;
    TFtpStepSet m_stepSet = 0;
    TFtpStep m_currentStep = stNone;
    int m_requestOutcome = 0;
    QString m_savedResponse;
    int m_savedStatus = -1;
    int m_acceptedCodes[16] = {};
    Routine m_replyHandler = nullptr;
    Routine m_afterReply = nullptr;
    Routine m_continueRequest = nullptr;
    // A reply (or the greeting) is still owed: a close of the control connection now
    // is a failure, not the end of a QUIT.
    bool m_awaitingReply = false;
    // The error message before a TLS command whose refusal the mode tolerates.
    QString m_errorBeforeTls;
    // The server accepted PROT P: data connections of this session run TLS.
    bool m_dataTls = false;
    // What the data connection does once its TLS handshake is done (active mode).
    Routine m_afterDataTls = nullptr;
    FtpReplyReader m_reader;

    // transfer
    std::unique_ptr<QFile> m_localFile;
    std::unique_ptr<char[]> m_sendBuffer;
    bool m_storAnswered = false;
    bool m_dataAccepted = false;
    bool m_finalReplyReceived = false;
    bool m_dataClosed = false;
    bool m_endOfFile = false;
    qint64 m_uploadSize = -1;  // the bytes an upload has to send; -1 for a download
    bool m_sendPosted = false;
    bool m_sending = false;
    bool m_writeFailed = false;
    quint16 m_dataCloseError = 0;
    qint64 m_startTick = 0;
    qint64 m_stopTick = 0;
    QString m_dataVerb;
    qintptr m_transferSerial = 0;
    PassiveVerb m_passiveVerb = PassiveVerb::Epsv;
    // Passive: the client's connect has completed (or failed with m_passiveError)
    // before or after the transfer step asked for it.
    bool m_dataPassive = false;
    bool m_passiveDone = false;
    quint16 m_passiveError = 0;
    Routine m_onDataReady = nullptr;

    TAsyncSocket* m_control = nullptr;
    TAsyncSocket* m_data = nullptr;
    NotificationTarget* m_target = nullptr;
};
