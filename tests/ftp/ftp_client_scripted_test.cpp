// TFtpClient against a scripted FTP server: exact commands, reply shapes, failures,
// time-outs, aborts and both orders of the transfer's events, as rows of tables.
#include "ftp_client_harness.h"
#include "net/async_socket.h"
#include "support/event_wait.h"
#include "support/loopback_port.h"
#include "support/scripted_ftp_server.h"

#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <cctype>
#include <functional>

namespace {

using Done = QList<QPair<int, int>>;
using Step = FtpStep;

QList<Step> login() {
    return {Step::reply("220 ready\r\n"), Step::expect("USER u"), Step::reply("331 pw\r\n"), Step::expect("PASS p"),
            Step::reply("230 in\r\n")};
}

QList<Step> quit() { return {Step::expect("QUIT"), Step::reply("221 bye\r\n")}; }

std::string rowName(const char* text) {
    std::string name = text;
    for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

// ---- the control connection ----

struct DialogueCase {
    const char* name;
    QList<Step> script;
    std::function<void(FtpClientHarness&)> act;
    Done done;
    int status;
    const char* errorMessage;
    const char* lastResponse;
    bool connected;
    QStringList display;  // when not empty: every protocol line shown
    QByteArray sent;      // when not empty: every byte the client sent
};

class FtpDialogueTest : public ::testing::TestWithParam<DialogueCase> {};

TEST_P(FtpDialogueTest, EndsAsTheServerSays) {
    const DialogueCase& c = GetParam();
    // The server holds the connection open after its last reply.
    ScriptedFtpServer server(c.script + QList<Step>{Step::stall()});
    FtpClientHarness h(server.port());
    c.act(h);
    // After a time-out the abort's completion comes from a later pump.
    EXPECT_TRUE(waitUntil([&] { return h.done.size() >= c.done.size(); }, 5000));
    runLoopFor(50);
    EXPECT_EQ(h.done, c.done);
    EXPECT_EQ(h.client.StatusCode(), c.status);
    EXPECT_EQ(h.client.ErrorMessage(), QString::fromLatin1(c.errorMessage));
    EXPECT_EQ(h.client.LastResponse(), QString::fromLatin1(c.lastResponse));
    EXPECT_EQ(h.client.Connected(), c.connected);
    EXPECT_EQ(h.client.State(), fcReady);
    if (!c.display.isEmpty()) {
        EXPECT_EQ(h.displayMismatch(c.display), "");
    }
    server.release();
    if (!c.sent.isEmpty()) {
        EXPECT_TRUE(waitUntil([&] { return server.received().size() >= c.sent.size(); }, 3000));
        EXPECT_EQ(server.received(), c.sent);
    }
    EXPECT_EQ(server.failures(), "");
}

void connectThenQuit(FtpClientHarness& h) {
    EXPECT_TRUE(h.client.Connect());
    EXPECT_TRUE(h.client.Connected());
    EXPECT_TRUE(h.client.Quit());
}

void connectOnce(FtpClientHarness& h) { h.client.Connect(); }

void connectWithTimeout(FtpClientHarness& h) {
    h.client.SetTimeout(1);
    EXPECT_FALSE(h.client.Connect());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FtpDialogueTest,
    ::testing::Values(
        DialogueCase{"USER answered 230 needs no PASS",
                     {Step::reply("220 hi\r\n"), Step::expect("USER u"), Step::reply("230 no password needed\r\n"),
                      Step::expect("QUIT"), Step::reply("221 bye\r\n")},
                     connectThenQuit, Done{{rqConnect, 0}, {rqQuit, 0}}, 221, "", "221 bye", false,
                     {"< 220 hi", "> USER u", "< 230 no password needed", "> QUIT", "< 221 bye"},
                     "USER u\r\nQUIT\r\n"},
        DialogueCase{"PASS refused keeps the connection; Quit still works",
                     {Step::reply("220 hi\r\n"), Step::expect("USER u"), Step::reply("331 pw\r\n"),
                      Step::expect("PASS p"), Step::reply("530 Login incorrect.\r\n"), Step::expect("QUIT"),
                      Step::reply("221 bye\r\n")},
                     [](FtpClientHarness& h) {
                         EXPECT_FALSE(h.client.Connect());
                         EXPECT_TRUE(h.client.Connected());
                         EXPECT_EQ(h.client.ErrorMessage(), "530 Login incorrect.");
                         EXPECT_TRUE(h.client.Quit());
                     },
                     Done{{rqConnect, 530}, {rqQuit, 0}}, 221, "530 Login incorrect.", "221 bye", false,
                     {"< 220 hi", "> USER u", "< 331 pw", "> PASS ****", "< 530 Login incorrect.", "> QUIT",
                      "< 221 bye"},
                     "USER u\r\nPASS p\r\nQUIT\r\n"},
        DialogueCase{"a multi-line reply ends on its last line only",
                     {Step::reply("220-Welcome\r\n 220 indented, not final\r\n220-more\r\ntext\r\n220 ready\r\n"),
                      Step::expect("USER u"),
                      Step::replyPieces({"230-Hello\r\n  230 still text\r\n", "230-and more\r\n",
                                         "530 the last line decides\r\n"})},
                     connectOnce, Done{{rqConnect, 530}}, 530, "530 the last line decides",
                     "530 the last line decides", true,
                     {"< 220-Welcome", "<  220 indented, not final", "< 220-more", "< text", "< 220 ready",
                      "> USER u", "< 230-Hello", "<   230 still text", "< 230-and more",
                      "< 530 the last line decides"},
                     {}},
        DialogueCase{"bare LF line ends are accepted",
                     {Step::reply("220 hi\n"), Step::expect("USER u"), Step::reply("331 pw\n"),
                      Step::expect("PASS p"), Step::reply("230 in\n")},
                     connectOnce, Done{{rqConnect, 0}}, 230, "", "230 in", true, {}, "USER u\r\nPASS p\r\n"},
        DialogueCase{"bare LF without ftpAcceptLF never ends a line",
                     {Step::reply("220 hi\n"), Step::stall()},
                     [](FtpClientHarness& h) {
                         h.client.SetOptions(0);
                         connectWithTimeout(h);
                     },
                     Done{{rqConnect, 426}}, 426, "426 Timeout", "", false, {}, {}},
        DialogueCase{"two replies in one read are both handled",
                     {Step::reply("220 hi\r\n331 pw\r\n"), Step::expect("USER u"), Step::expect("PASS p"),
                      Step::reply("230 in\r\n")},
                     connectOnce, Done{{rqConnect, 0}}, 230, "", "230 in", true,
                     {"< 220 hi", "> USER u", "< 331 pw", "> PASS ****", "< 230 in"}, "USER u\r\nPASS p\r\n"},
        DialogueCase{"replies split over reads",
                     {Step::replyPieces({"2", "20 h", "i\r", "\n"}), Step::expect("USER u"),
                      Step::replyPieces({"331 p", "w\r\n"}), Step::expect("PASS p"),
                      Step::replyPieces({"230 in\r", "\n"})},
                     connectOnce, Done{{rqConnect, 0}}, 230, "", "230 in", true,
                     {"< 220 hi", "> USER u", "< 331 pw", "> PASS ****", "< 230 in"}, {}},
        DialogueCase{"an empty line is shown and ignored",
                     {Step::reply("220 hi\r\n"), Step::expect("USER u"), Step::reply("\r\n331 pw\r\n"),
                      Step::expect("PASS p"), Step::reply("230 in\r\n")},
                     connectOnce, Done{{rqConnect, 0}}, 230, "", "230 in", true,
                     {"< 220 hi", "> USER u", "< ", "< 331 pw", "> PASS ****", "< 230 in"}, {}},
        DialogueCase{"greeting 421 closes the connection", {Step::reply("421 Too many users\r\n")}, connectOnce,
                     Done{{rqConnect, 421}}, 421, "421 Too many users", "421 Too many users", false,
                     {"< 421 Too many users"}, {}},
        DialogueCase{"a silent server ends the call by its time limit", {Step::stall()}, connectWithTimeout,
                     Done{{rqConnect, 426}}, 426, "426 Timeout", "", false, {}, {}},
        DialogueCase{"Abort during PASS",
                     {Step::reply("220 hi\r\n"), Step::expect("USER u"), Step::reply("331 pw\r\n"),
                      Step::expect("PASS p"), Step::stall()},
                     [](FtpClientHarness& h) {
                         // Once PASS is on its way, the user presses Abort.
                         const TFtpDisplay record = h.client.OnDisplay;
                         h.client.OnDisplay = [&h, record](TCustomFtpClient* c, QString& msg) {
                             record(c, msg);
                             if (msg == "> PASS ****")
                                 QTimer::singleShot(50, [&h] { h.client.Abort(); });
                         };
                         EXPECT_FALSE(h.client.Connect());
                     },
                     Done{{rqConnect, 426}}, 331, "426 Operation aborted.", "331 pw", false, {}, {}},
        DialogueCase{"a server that closes while a reply is owed fails the request",
                     {Step::reply("220 hi\r\n"), Step::expect("USER u"), Step::close()}, connectOnce,
                     Done{{rqConnect, 426}}, 426, "426 Connection closed by the server",
                     "426 Connection closed by the server", false, {}, {}},
        DialogueCase{"Connect while connected is refused and sends nothing",
                     {Step::reply("220 hi\r\n"), Step::expect("USER u"), Step::reply("230 in\r\n"), Step::stall()},
                     [](FtpClientHarness& h) {
                         EXPECT_TRUE(h.client.Connect());
                         EXPECT_FALSE(h.client.Connect());
                     },
                     Done{{rqConnect, 0}}, 230, "", "230 in", true, {}, "USER u\r\n"}),
    [](const auto& row) { return rowName(row.param.name); });

TEST(FtpDialogueTest, UnresolvableHostComposesTheLookupError) {
    FtpClientHarness h(21, QStringLiteral("no-such-host.invalid"));
    EXPECT_FALSE(h.client.Connect());
    ASSERT_EQ(h.done.size(), 1);
    EXPECT_EQ(h.done[0].first, rqConnect);
    const int error = h.done[0].second;
    EXPECT_TRUE(error >= 11001 && error <= 11004) << error;
    EXPECT_EQ(h.client.StatusCode(), 500);
    const QString expected = QStringLiteral("500 ") + SocketErrorDesc(error) +
                             QStringLiteral(" (Winsock error #%1)").arg(error);
    EXPECT_EQ(h.client.LastResponse(), expected);
    EXPECT_EQ(h.client.ErrorMessage(), expected);
    EXPECT_FALSE(h.client.Connected());
}

TEST(FtpDialogueTest, ARefusedConnectNamesEveryAddressTried) {
    const quint16 port = FreeLoopbackPort();  // nothing listens there, on either address
    ASSERT_TRUE(TAsyncSocket::SetResolveOverride("two-addresses.test", {"::1", "127.0.0.1"}));
    FtpClientHarness h(port, QStringLiteral("two-addresses.test"));
    EXPECT_FALSE(h.client.Connect());
    TAsyncSocket::SetResolveOverride("two-addresses.test", {});
    const QString tried = QStringLiteral(" (Winsock error #10061) (tried [::1]:%1, 127.0.0.1:%1)").arg(port);
    EXPECT_EQ(h.client.ErrorMessage(), "500 " + SocketErrorDesc(10061) + tried);
}

// ---- uploads ----

struct UploadCase {
    const char* name;
    qint64 size;
    bool passive;
    QList<Step> transfer;  // between the login and QUIT
    Done done;
    const char* errorMessage;
    bool stored;           // the server received the whole file
    int replyBeforeEnd;    // 1: the closing reply came before the last block; 0: after; -1: not checked
    int progressReports;   // -1: not checked
    QStringList display;   // when not empty: every protocol line shown
};

class FtpUploadTest : public ::testing::TestWithParam<UploadCase> {};

TEST_P(FtpUploadTest, StoresOrFailsAsTheServerSays) {
    const UploadCase& c = GetParam();
    ScriptedFtpServer server(login() + c.transfer + quit());
    FtpClientHarness h(server.port());
    h.client.SetPassive(c.passive);
    const QString path = h.makeFile(QStringLiteral("up.bin"), c.size);
    h.client.SetLocalFileName(path);
    h.client.SetHostFileName(QStringLiteral("up.bin"));
    EXPECT_TRUE(h.client.Connect());
    const bool stored = h.client.Put();
    EXPECT_EQ(stored, c.done.value(1).second == 0);
    EXPECT_EQ(h.client.ErrorMessage(), QString::fromLatin1(c.errorMessage));
    EXPECT_TRUE(h.client.Quit());
    EXPECT_EQ(h.done, c.done);
    EXPECT_EQ(h.client.DataSocket()->State(), wsClosed);
    EXPECT_EQ(h.client.ResumeAt(), 0);
    EXPECT_TRUE(waitUntil([&] { return server.finished(); }, 5000));
    if (c.stored)
        EXPECT_TRUE(server.dataReceived() == h.fileBytes(path)) << server.dataReceived().size() << " bytes stored";
    else
        EXPECT_TRUE(server.dataReceived().isEmpty());
    const QRegularExpression statistics(QStringLiteral("^! %1 bytes received/sent in \\d+ seconds").arg(c.size));
    EXPECT_EQ(h.display.filter(statistics).size(), stored ? 1 : 0);
    if (stored) {
        EXPECT_EQ(h.client.TransferCount(), c.size);
    }
    if (c.stored && !c.passive) {
        EXPECT_TRUE(server.portAddress().startsWith("127.0.0.1:")) << server.portAddress().toStdString();
    }
    if (c.replyBeforeEnd >= 0) {
        ASSERT_TRUE(h.countAtReply.contains("< 226 done"));
        const qint64 countAtReply = h.countAtReply.value("< 226 done");
        EXPECT_EQ(countAtReply < c.size, c.replyBeforeEnd == 1) << countAtReply;
    }
    if (c.progressReports >= 0) {
        EXPECT_EQ(h.progress.size(), c.progressReports);
    }
    if (!c.display.isEmpty()) {
        EXPECT_EQ(h.displayMismatch(c.display), "");
    }
    EXPECT_EQ(server.failures(), "");
}

const QList<Step> kActivePort = {Step::expect("PORT 127,0,0,1,*"), Step::reply("200 PORT ok\r\n"),
                                 Step::expect("STOR up.bin")};
const QList<Step> kStoreAfter150 = kActivePort + QList<Step>{Step::reply("150 go\r\n"), Step::connectToPort(),
                                                             Step::receiveData(), Step::pause(50),
                                                             Step::reply("226 done\r\n")};
const Done kStored = {{rqConnect, 0}, {rqPut, 0}, {rqQuit, 0}};
constexpr qint64 kBlock = TCustomFtpClient::kUploadBlock;

QList<Step> passiveStore(const QList<Step>& opening) {
    return opening + QList<Step>{Step::acceptData(), Step::expect("STOR up.bin"), Step::reply("150 go\r\n"),
                                 Step::receiveData(), Step::reply("226 done\r\n")};
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, FtpUploadTest,
    ::testing::Values(
        UploadCase{"150 before the data connection", 100000, false, kStoreAfter150, kStored, "", true, 0, -1,
                   {"< 220 ready", "> USER u", "< 331 pw", "> PASS ****", "< 230 in", "> PORT 127,0,0,1,*",
                    "< 200 PORT ok", "> STOR up.bin", "< 150 go", "< 226 done",
                    "! 100000 bytes received/sent in *", "> QUIT", "< 221 bye"}},
        UploadCase{"data connection before 150", 100000, false,
                   kActivePort + QList<Step>{Step::connectToPort(), Step::pause(150), Step::reply("150 go\r\n"),
                                             Step::receiveData(), Step::reply("226 done\r\n")},
                   kStored, "", true, -1, -1, {}},
        UploadCase{"226 before the data connection closes", 24 << 20, false,
                   // The server reads nothing for a while after its 226: the client's sends
                   // meet full socket buffers (a few MiB on loopback), so the reply is read
                   // before the last block however busy the machine is.
                   kActivePort + QList<Step>{Step::reply("150 go\r\n"), Step::connectToPort(),
                                             Step::reply("226 done\r\n"), Step::pause(300), Step::receiveData()},
                   kStored, "", true, 1, -1, {}},
        UploadCase{"empty file: STOR, then an at once closed data connection", 0, false, kStoreAfter150, kStored,
                   "", true, 0, 1, {}},
        UploadCase{"exactly one block", kBlock, false, kStoreAfter150, kStored, "", true, 0, 2, {}},
        UploadCase{"one block and one byte", kBlock + 1, false, kStoreAfter150, kStored, "", true, 0, 3, {}},
        UploadCase{"STOR refused", 1000, false, kActivePort + QList<Step>{Step::reply("553 Could not create file.\r\n")},
                   Done{{rqConnect, 0}, {rqPut, 553}, {rqQuit, 0}}, "553 Could not create file.", false, -1, 0, {}},
        UploadCase{"PORT refused, then QUIT ends normally", 1000, false,
                   {Step::expect("PORT 127,0,0,1,*"), Step::reply("500 Illegal PORT command.\r\n")},
                   Done{{rqConnect, 0}, {rqPut, 500}, {rqQuit, 0}}, "500 Illegal PORT command.", false, -1, 0, {}},
        UploadCase{"closing reply refused", 1000, false,
                   kActivePort + QList<Step>{Step::reply("150 go\r\n"), Step::connectToPort(), Step::receiveData(),
                                             Step::reply("451 Failure writing\r\n")},
                   Done{{rqConnect, 0}, {rqPut, 451}, {rqQuit, 0}}, "451 Failure writing", true, -1, -1,
                   {"< 220 ready", "> USER u", "< 331 pw", "> PASS ****", "< 230 in", "> PORT *", "< 200 PORT ok",
                    "> STOR up.bin", "< 150 go", "< 451 Failure writing", "! STOR Failed", "> QUIT", "< 221 bye"}},
        UploadCase{"passive: EPSV accepted", 300000, true,
                   passiveStore({Step::expect("EPSV"), Step::listenPassive(),
                                 Step::reply("229 Entering Extended Passive Mode (|||{port}|)\r\n")}),
                   kStored, "", true, -1, -1, {}},
        UploadCase{"passive: EPSV refused, PASV", 300000, true,
                   passiveStore({Step::expect("EPSV"), Step::reply("500 EPSV not understood\r\n"),
                                 Step::expect("PASV"), Step::listenPassive(),
                                 Step::reply("227 Entering Passive Mode (127,0,0,1,{p1},{p2})\r\n")}),
                   kStored, "", true, -1, -1,
                   {"< 220 ready", "> USER u", "< 331 pw", "> PASS ****", "< 230 in", "> EPSV",
                    "< 500 EPSV not understood", "> PASV", "< 227 Entering Passive Mode *", "> STOR up.bin",
                    "< 150 go", "< 226 done", "! 300000 bytes received/sent in *", "> QUIT", "< 221 bye"}},
        UploadCase{"passive: a foreign address in 227 is not used", 1000, true,
                   passiveStore({Step::expect("EPSV"), Step::reply("502 no\r\n"), Step::expect("PASV"),
                                 Step::listenPassive(),
                                 Step::reply("227 Entering Passive Mode (10,9,8,7,{p1},{p2})\r\n")}),
                   kStored, "", true, -1, -1, {}}),
    [](const auto& row) { return rowName(row.param.name); });

QList<Step> storeUntilClientCloses() {
    return login() + kActivePort + QList<Step>{Step::reply("150 go\r\n"), Step::connectToPort(), Step::receiveData()};
}

TEST(FtpUploadControlTest, AbortWhileSendingClosesBothConnections) {
    ScriptedFtpServer server(storeUntilClientCloses());
    FtpClientHarness h(server.port());
    h.client.SetLocalFileName(h.makeFile("big.bin", 8 << 20));
    h.client.SetHostFileName("up.bin");
    h.client.OnProgress = [&h](TCustomFtpClient*, qint64 count, bool&) {
        if (count >= 2 * kBlock)
            h.client.Abort();
    };
    ASSERT_TRUE(h.client.Connect());
    EXPECT_FALSE(h.client.Put());
    EXPECT_TRUE(waitUntil([&] { return h.done.size() == 2; }, 3000));
    EXPECT_EQ(h.done, (Done{{rqConnect, 0}, {rqPut, 426}}));
    EXPECT_EQ(h.client.ErrorMessage(), "426 Operation aborted.");
    EXPECT_FALSE(h.client.Connected());
    EXPECT_EQ(h.client.DataSocket()->State(), wsClosed);
    EXPECT_FALSE(h.client.Quit());  // nothing left to quit
    EXPECT_TRUE(waitUntil([&] { return server.finished(); }, 5000));
    EXPECT_LT(server.dataReceived().size(), 8 << 20);
}

TEST(FtpUploadControlTest, NestedPutIsRefusedAndTheOuterOneCompletes) {
    ScriptedFtpServer server(storeUntilClientCloses() + QList<Step>{Step::reply("226 done\r\n")});
    FtpClientHarness h(server.port());
    const QString path = h.makeFile("f.bin", 3 * kBlock);
    h.client.SetLocalFileName(path);
    h.client.SetHostFileName("up.bin");
    QList<bool> nested;
    QStringList nestedErrors;
    h.client.OnProgress = [&](TCustomFtpClient*, qint64, bool&) {
        if (nested.isEmpty()) {
            nested << h.client.Put();
            nestedErrors << h.client.ErrorMessage();
        }
    };
    ASSERT_TRUE(h.client.Connect());
    EXPECT_TRUE(h.client.Put());
    EXPECT_EQ(nested, QList<bool>{false});
    EXPECT_EQ(nestedErrors, QStringList{""});
    EXPECT_EQ(h.done, (Done{{rqConnect, 0}, {rqPut, 0}}));
    EXPECT_TRUE(server.dataReceived() == h.fileBytes(path));
    EXPECT_EQ(h.display.filter("> STOR").size(), 1);
}

TEST(FtpUploadControlTest, AStalledTransferEndsByTheTimeLimit) {
    ScriptedFtpServer server(login() + kActivePort +
                             QList<Step>{Step::reply("150 go\r\n"), Step::connectToPort(), Step::pause(1500),
                                         Step::receiveData(), Step::reply("226 done\r\n")});
    FtpClientHarness h(server.port());
    h.client.SetTimeout(1);
    const QString path = h.makeFile("f.bin", 300000);
    h.client.SetLocalFileName(path);
    h.client.SetHostFileName("up.bin");
    ASSERT_TRUE(h.client.Connect());
    // Every block is in the kernel's buffers at once; then nothing moves for 1.5 s.
    EXPECT_FALSE(h.client.Put());
    EXPECT_EQ(h.client.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(h.client.StatusCode(), 426);
    EXPECT_FALSE(h.client.Connected());
}

}  // namespace
