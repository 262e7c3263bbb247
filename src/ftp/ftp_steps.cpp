// The command steps of the FTP client and the requests made of them.
#include "ftp/custom_ftp_client.h"

#include <QFileInfo>

void TCustomFtpClient::UserStep() {
    if (m_userName.isEmpty())
        return HandleError(QStringLiteral("UserName emtpy"));
    m_currentStep = stUser;
    IssueCommand(rqUser, QStringLiteral("USER ") + m_userName, {331, 230});
}

void TCustomFtpClient::PassStep() {
    if (m_passWord.isEmpty())
        return HandleError(QStringLiteral("Password emtpy"));
    m_currentStep = stPass;
    IssueCommand(rqPass, QStringLiteral("PASS ") + m_passWord, {230});
}

void TCustomFtpClient::CwdStep() {
    if (m_hostDirName.isEmpty())
        return HandleError(QStringLiteral("HostDirName emtpy"));
    m_currentStep = stCwd;
    IssueCommand(rqCwd, QStringLiteral("CWD ") + m_hostDirName, {200, 250, 257});
}

void TCustomFtpClient::CdupStep() {
    m_currentStep = stCdup;
    IssueCommand(rqCdup, QStringLiteral("CDUP"), {250});
}

void TCustomFtpClient::PwdStep() {
    m_currentStep = stPwd;
    IssueCommand(rqPwd, QStringLiteral("PWD"), {250, 257});
}

void TCustomFtpClient::MkdStep() {
    m_currentStep = stMkd;
    IssueCommand(rqMkd, QStringLiteral("MKD ") + m_hostFileName, {257});
}

void TCustomFtpClient::RmdStep() {
    m_currentStep = stRmd;
    IssueCommand(rqRmd, QStringLiteral("RMD ") + m_hostFileName, {250, 257});
}

void TCustomFtpClient::DeleStep() {
    m_currentStep = stDele;
    IssueCommand(rqDele, QStringLiteral("DELE ") + m_hostFileName, {250, 257});
}

void TCustomFtpClient::RnfrStep() {
    m_currentStep = stRnfr;
    IssueCommand(rqRnfr, QStringLiteral("RNFR ") + m_hostFileName, {350});
}

void TCustomFtpClient::RntoStep() {
    m_currentStep = stRnto;
    IssueCommand(rqRnto, QStringLiteral("RNTO ") + m_localFileName, {200, 250, 257});
}

void TCustomFtpClient::SystStep() {
    m_currentStep = stSyst;
    IssueCommand(rqSyst, QStringLiteral("SYST"), {215});
}

void TCustomFtpClient::SizeStep() {
    m_currentStep = stSize;
    m_replySize = 0;
    IssueCommand(rqSize, QStringLiteral("SIZE ") + m_hostFileName, {213});
}

void TCustomFtpClient::RestStep() {
    // A store resumes where its caller says (what the server holds), and only a server
    // that agrees (350) gets the rest; a download resumes where its local file ends.
    const bool upload = m_inRequest && m_requestType == rqPut;
    if (!upload) {
        const QFileInfo local(m_localFileName);
        m_resumeAt = local.exists() ? local.size() : -1;
    }
    m_currentStep = stRest;
    if (m_resumeAt > 0) {
        const QString command = QStringLiteral("REST ") + QString::number(m_resumeAt);
        if (upload)
            IssueCommand(rqRest, command, {350});
        else
            IssueCommand(rqRest, command, {});
        return;
    }
    // Nothing to resume: the step ends at once without a command.
    if (!CheckReady())
        return;
    if (!m_inRequest)
        beginRequest(rqRest);
    m_doneFlag = false;
    m_requestResult = 0;
    SignalDone(0);
}

void TCustomFtpClient::FeatStep() {
    m_offersRestStream = false;
    m_currentStep = stQuote;
    IssueCommand(rqFeat, QStringLiteral("FEAT"), {211});
    m_replyHandler = &TCustomFtpClient::HandleFeatReply;
}

// The features come one per line inside the multi-line 211 reply (RFC 2389).
void TCustomFtpClient::HandleFeatReply() {
    if (m_lastLine.trimmed().toUpper() == "REST STREAM")
        m_offersRestStream = true;
    HandleStepReply();
}

void TCustomFtpClient::TypeStep() {
    m_currentStep = stType;
    IssueCommand(rqType, QStringLiteral("TYPE ") + QChar::fromLatin1(m_typeLetter), {200});
}

void TCustomFtpClient::TypeBinaryStep() {
    SetBinary(true);
    TypeStep();
}

void TCustomFtpClient::TypeAsciiStep() {
    SetBinary(false);
    TypeStep();
}

void TCustomFtpClient::QuoteStep() {
    m_currentStep = stQuote;
    IssueCommand(rqQuote, m_localFileName, {});
}

void TCustomFtpClient::QuitStep() {
    releaseLocalFile();
    m_currentStep = stQuit;
    IssueCommand(rqQuit, QStringLiteral("QUIT"), {221}, &TCustomFtpClient::quitAfterReply);
}

// ---- multi-step requests ----

namespace {

// PBSZ and PROT follow the login only on a TLS control connection.
constexpr TFtpStepSet kLogin = StepBit(stOpen) | StepBit(stUser) | StepBit(stPass) | StepBit(stProt);

constexpr TFtpStepSet steps(std::initializer_list<TFtpStep> list) {
    TFtpStepSet set = 0;
    for (TFtpStep s : list)
        set |= StepBit(s);
    return set;
}

}  // namespace

void TCustomFtpClient::StartConnect() { StartRequest(rqConnect, kLogin); }
void TCustomFtpClient::StartGetSession() {
    StartRequest(rqGetSession, kLogin | steps({stCwd, stType, stPort, stRetr, stQuit}));
}
void TCustomFtpClient::StartList() { StartRequest(rqList, steps({stPort, stList})); }
void TCustomFtpClient::StartNlst() { StartRequest(rqNlst, steps({stPort, stNlst})); }
void TCustomFtpClient::StartGet() { StartRequest(rqGet, steps({stPort, stRetr})); }
void TCustomFtpClient::StartListSession() {
    StartRequest(rqListSession, kLogin | steps({stCwd, stPort, stList, stQuit}));
}
void TCustomFtpClient::StartNlstSession() {
    StartRequest(rqNlstSession, kLogin | steps({stCwd, stPort, stNlst, stQuit}));
}
void TCustomFtpClient::StartSystSession() { StartRequest(rqSystSession, kLogin | steps({stSyst, stQuit})); }
void TCustomFtpClient::StartSizeSession() { StartRequest(rqSize, kLogin | steps({stCwd, stSize, stQuit})); }
void TCustomFtpClient::StartPut() { StartRequest(rqPut, steps({stPort, stStor})); }
void TCustomFtpClient::StartResumePut() { StartRequest(rqPut, steps({stPort, stRest, stStor})); }
void TCustomFtpClient::StartAppend() { StartRequest(rqAppend, steps({stPort, stAppe})); }
void TCustomFtpClient::StartRenameSession() {
    StartRequest(rqRenameSession, kLogin | steps({stCwd, stRnfr, stRnto, stQuit}));
}
void TCustomFtpClient::StartRename() { StartRequest(rqRename, steps({stRnfr, stRnto})); }
void TCustomFtpClient::StartDeleSession() { StartRequest(rqDeleSession, kLogin | steps({stCwd, stDele, stQuit})); }
void TCustomFtpClient::StartMkdSession() { StartRequest(rqMkdSession, kLogin | steps({stCwd, stMkd, stQuit})); }
void TCustomFtpClient::StartRmdSession() { StartRequest(rqRmdSession, kLogin | steps({stCwd, stRmd, stQuit})); }
void TCustomFtpClient::StartQuoteSession() {
    StartRequest(rqQuoteSession, kLogin | steps({stCwd, stQuote, stQuit}));
}
void TCustomFtpClient::StartPutSession() {
    StartRequest(rqPutSession, kLogin | steps({stCwd, stType, stPort, stStor, stQuit}));
}
void TCustomFtpClient::StartAppendSession() {
    StartRequest(rqPutSession, kLogin | steps({stCwd, stType, stPort, stAppe, stQuit}));
}
void TCustomFtpClient::StartResumeGet() { StartRequest(rqResumeGet, steps({stPort, stRest, stRetr})); }
void TCustomFtpClient::StartResumeGetSession() {
    StartRequest(rqResumeGetSession, kLogin | steps({stCwd, stType, stPort, stRest, stRetr, stQuit}));
}
