#pragma once

#include "common/user_error.h"

#include <QString>
#include <QtGlobal>

#include <exception>
#include <functional>

// Misuse of the FTP client at call time ("FTP component not ready", "UserName emtpy").
// Its text is shown to the user as it stands.
class FtpException : public UserError {
public:
    explicit FtpException(const QString& text) : UserError(text) {}
};

// The numbers are shown to the user (the state label of the upload page).
enum TFtpClientState {
    fcNotConnected,   // 0: the control connection has just closed
    fcReady,          // 1: a new request may start
    fcBetweenSteps,   // 2: a step has ended and the next one may start
    fcLookingUp,      // 3
    fcConnected,      // 4: the greeting has arrived
    fcAborting,       // 5
    fcUnused,         // 6: never entered
    fcWaitingBanner,  // 7: connecting, then waiting for the greeting
    fcWaitingReply    // 8: a command was sent
};

enum TFtpStep {
    stNone, stOpen, stUser, stPass, stCwd, stSize, stMkd, stRmd, stRnfr, stRnto, stRetr, stList, stQuit,
    stSyst, stDele, stPwd, stQuote, stStor, stType, stRest, stCdup, stNlst, stAppe, stPort,
    stProt  // PBSZ 0 and PROT P after the login; runs only on a TLS control connection
};
using TFtpStepSet = quint32;  // bit n stands for step n
constexpr TFtpStepSet StepBit(TFtpStep s) { return TFtpStepSet(1) << s; }

// The numbers go to the user's FTP log ("Request 17 Done."): they never change.
enum TFtpRequest {
    rqNone = 0, rqOpen = 1, rqUser = 2, rqPass = 3, rqCwd = 4, rqConnect = 5, rqGetSession = 6, rqList = 7,
    rqNlst = 8, rqPort = 9, rqGet = 10, rqListSession = 11, rqNlstSession = 12, rqSystSession = 13, rqSyst = 14,
    rqQuit = 15, rqSize = 16, rqPut = 17, rqAppend = 18, rqMkd = 21, rqRmd = 22, rqRenameSession = 23,
    rqDele = 24, rqRename = 25, rqRnto = 26, rqRnfr = 27, rqDeleSession = 28, rqMkdSession = 29,
    rqRmdSession = 30, rqPwd = 31, rqQuote = 32, rqCdup = 33, rqQuoteSession = 34, rqPutSession = 35,
    rqType = 36, rqRest = 37, rqResumeGet = 38, rqResumeGetSession = 39,
    rqFeat = 40  // beyond the classic client: the server's extensions (FEAT)
};

// The sharing word added to the open mode of the local file. Linux has no sharing
// modes: the word is kept and reported, and files open as the system allows.
enum TFtpShareMode {
    ftpShareCompat = 0,
    ftpShareExclusive = 16,
    ftpShareDenyWrite = 32,
    ftpShareDenyRead = 48,
    ftpShareDenyNone = 64
};

enum TFtpOption { ftpAcceptLF = 1 };

// FTP over TLS, explicit (AUTH TLS on the control connection, then PBSZ 0 and PROT P so
// that the data connections run TLS too, resuming the control connection's session).
enum TFtpTlsMode {
    ftpTlsOff,          // plain FTP: nothing of TLS is sent
    ftpTlsWhenOffered,  // AUTH TLS is tried; a server that refuses it is used in plain text
    ftpTlsRequired      // a refusal fails the request: no name and no password go in clear
};
using TFtpOptions = unsigned;  // a set of TFtpOption bits

class TCustomFtpClient;

using TFtpDisplay = std::function<void(TCustomFtpClient* sender, QString& msg)>;
using TFtpCommand = std::function<void(TCustomFtpClient* sender, QString& cmd)>;
using TFtpNotify = std::function<void(TCustomFtpClient* sender)>;
using TFtpProgress = std::function<void(TCustomFtpClient* sender, qint64 count, bool& abort)>;
using TFtpSessionEvent = std::function<void(TCustomFtpClient* sender, quint16 error)>;
using TFtpRequestDone = std::function<void(TCustomFtpClient* sender, TFtpRequest rqType, quint16 error)>;
using TFtpReadyToTransmit = std::function<void(TCustomFtpClient* sender, bool& cancel)>;
using TFtpBgException = std::function<void(TCustomFtpClient* sender, const std::exception& e, bool& canClose)>;
using TFtpError = std::function<void(TCustomFtpClient* sender, const QString& msg)>;
