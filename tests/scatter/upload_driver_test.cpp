// The upload run against scripted FTP servers: the exact session of every row, what a
// row shows after each way a store can end, retries until Abort, an aborted part sent
// again from the start, late completions, and a log that never holds a password.
#include "common/text_table.h"
#include "ftp/ftp_client.h"
#include "scatter/upload_driver.h"
#include "scatter/upload_table.h"
#include "support/event_wait.h"
#include "support/scripted_ftp_server.h"
#include "support/scripted_prompt.h"
#include "support/test_bytes.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

using Step = FtpStep;

const QString kPassword = QStringLiteral("Tr0ub4dor&3");

QList<Step> login() {
    return {Step::reply("220 ready\r\n"), Step::expect("USER u"), Step::reply("331 password please\r\n"),
            Step::expect("PASS " + kPassword.toUtf8()), Step::reply("230 in\r\n")};
}
QList<Step> types() {
    return {Step::expect("TYPE I"), Step::reply("200 binary\r\n"), Step::expect("TYPE I"), Step::reply("200 binary\r\n")};
}
// PORT, then STOR answered 150 and the data taken until the client closes it.
QList<Step> storeActive(const QByteArray& name) {
    return {Step::expect("PORT 127,0,0,1,*"), Step::reply("200 PORT ok\r\n"), Step::expect("STOR " + name),
            Step::reply("150 go ahead\r\n"),  Step::connectToPort(),          Step::receiveData()};
}
QList<Step> sizeAnswer(const QByteArray& name, const QByteArray& reply) {
    return {Step::expect("SIZE " + name), Step::reply(reply)};
}
QList<Step> quit() { return {Step::expect("QUIT"), Step::reply("221 bye\r\n")}; }
// A whole session that stores the part and confirms its size.
QList<Step> goodSession(const QByteArray& name, qint64 size) {
    return login() + types() + storeActive(name) + QList<Step>{Step::reply("226 stored\r\n")} +
           sizeAnswer(name, "213 " + QByteArray::number(size) + "\r\n") + quit();
}

// Every expected line in the log in this order, others between them allowed; a line
// ending in "*" only has to begin the logged one. Empty when they are all there.
std::string missingInOrder(const QStringList& log, const QStringList& expected) {
    qsizetype at = 0;
    for (const QString& e : expected) {
        const bool prefix = e.endsWith('*');
        while (at < log.size() && !(prefix ? log[at].startsWith(e.chopped(1)) : log[at] == e))
            ++at;
        if (at == log.size())
            return ("\"" + e + "\" missing or out of order in:\n" + log.join('\n')).toStdString();
        ++at;
    }
    return {};
}

// The window's upload side without the window: the table, the client, a scripted user
// and the log, with short waits between connection attempts.
class UploadRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_client.SetTimeout(10);
        m_driver.BindClientEvents();
        m_settings.firstRetryWaitMs = 10;
        m_settings.longestRetryWaitMs = 40;
        m_settings.firstBusyWaitMs = 10;
        m_settings.longestBusyWaitMs = 40;
    }
    void TearDown() override {
        EXPECT_FALSE(m_log.join('\n').contains(kPassword)) << "the log holds the password";
        EXPECT_FALSE(m_driver.running());
        EXPECT_FALSE(m_driver.aborted()) << "a run ends with the abort flag cleared";
        EXPECT_EQ(m_client.Tag(), -1) << "no store in progress between runs";
    }
    // A part row as a split and an assignment leave it; returns its row.
    int addPart(const QString& name, const QByteArray& bytes, const QString& ftpSite,
                const QString& progress = QStringLiteral("?"), const QString& status = QStringLiteral("?")) {
        const QString path = m_dir.filePath(name);
        WriteFileBytes(path, bytes);
        m_parts << bytes;
        return m_table.addRow({path, "http://w.example/", QString::number(bytes.size()), "00000000", ftpSite, "u",
                               kPassword, progress, status});
    }
    // Send File, then the event loop until the run reports its end: what it reports.
    bool sendAndWait() {
        std::optional<bool> allSent;
        m_driver.onFinished = [&allSent](bool sent) { allSent = sent; };
        EXPECT_TRUE(m_driver.Send()) << "a run started";
        EXPECT_TRUE(waitUntil([&] { return allSent.has_value(); }, 120000)) << "the run ended";
        m_driver.onFinished = nullptr;
        return allSent.value_or(false);
    }
    static QString siteOf(const ScriptedFtpServer& server) { return QStringLiteral("127.0.0.1:%1").arg(server.port()); }
    QString progress(int row) const { return m_table.cell(row, UploadColumn::Progress); }
    QString status(int row) const { return m_table.cell(row, UploadColumn::Status); }
    // Aborts as the user would, from an event, once the predicate holds.
    void abortWhen(std::function<bool()> when) {
        auto* poll = new QTimer(&m_client);
        QObject::connect(poll, &QTimer::timeout, [this, poll, when] {
            if (!when())
                return;
            poll->stop();
            m_driver.Abort();
        });
        poll->start(5);
    }

    QTemporaryDir m_dir;
    TextTable m_table{UploadTableColumns()};
    TFtpClient m_client;
    ScriptedPrompt m_prompt;
    QStringList m_log;
    QList<QByteArray> m_parts;
    UploadSettings m_settings;
    UploadDriver m_driver{m_table, m_client, m_prompt, [this](const QString& line) { m_log << line; },
                          [this] { return m_settings; }};
};

// ---- one session, every way a store can end ----

struct SessionCase {
    const char* name;
    QList<Step> script;  // for the part "x.bin" of 300000 bytes
    bool passive;
    bool allStored;      // what Send returns
    const char* progress;
    const char* status;
    QStringList logged;  // in this order
    TFtpTlsMode tls = ftpTlsOff;
    QString password = kPassword;
};

void PrintTo(const SessionCase& c, std::ostream* os) { *os << c.name; }

class UploadSession : public UploadRun, public ::testing::WithParamInterface<SessionCase> {};

TEST_P(UploadSession, TheRowShowsHowTheStoreEnded) {
    const SessionCase& c = GetParam();
    ScriptedFtpServer server(c.script);
    m_settings.passive = c.passive;
    m_settings.tlsMode = c.tls;
    const QByteArray part = SeededBytes(300000, 7);
    m_table.setCell(addPart("x.bin", part, siteOf(server)), UploadColumn::Password, c.password);
    abortWhen([this] { return m_log.contains("Connect Attempt # 2"); });  // a row given up is given up at once
    EXPECT_EQ(sendAndWait(), c.allStored);
    EXPECT_EQ(progress(0), c.progress);
    EXPECT_EQ(status(0), c.status);
    EXPECT_EQ(m_log.filter("Connect Attempt # ").size(), 1) << m_log.join('\n').toStdString();
    EXPECT_EQ(missingInOrder(m_log, c.logged), "");
    EXPECT_TRUE(m_prompt.messages().isEmpty()) << m_prompt.messages().join('|').toStdString();
    EXPECT_TRUE(waitUntil([&] { return server.finished(); }, 10000));
    EXPECT_EQ(server.failures(), "");
    if (QString(c.status) == "226" || QString(c.status) == "Error:size") {
        EXPECT_TRUE(server.dataReceived() == part) << "every byte stored";
    }
}

const QList<Step> kClosed = {Step::reply("226 stored\r\n")};

INSTANTIATE_TEST_SUITE_P(
    Stores, UploadSession,
    ::testing::Values(
        SessionCase{"stored and its size confirmed",
                    goodSession("x.bin", 300000), false, true, "100%", "226",
                    {"Connect Attempt # 1", "Request 5 Done.", "StatusCode = 230", "LastResponse was : '230 in'",
                     "No error", "Request 36 Done.", "Request 36 Done.", "> PORT 127,0,0,1,*", "> STOR x.bin",
                     "< 150 go ahead", "! 300000 bytes received/sent in *", "Request 17 Done.",
                     "StatusCode = 226", "LastResponse was : '226 stored'", "No error", "> SIZE x.bin",
                     "< 213 300000", "Request 16 Done.", "> QUIT", "< 221 bye", "Request 15 Done.",
                     "StatusCode = 221", "No error"}},
        SessionCase{"stored in passive mode, confirmed by 250",
                    login() + types() +
                        QList<Step>{Step::listenPassive(), Step::expect("EPSV"),
                                    Step::reply("229 Entering Extended Passive Mode (|||{port}|)\r\n"),
                                    Step::expect("STOR x.bin"), Step::reply("150 go ahead\r\n"), Step::acceptData(),
                                    Step::receiveData(), Step::reply("250 stored\r\n")} +
                        sizeAnswer("x.bin", "213 300000\r\n") + quit(),
                    true, true, "100%", "250", {"> EPSV", "> STOR x.bin", "StatusCode = 250"}},
        SessionCase{"a server without SIZE keeps the confirmed store",
                    login() + types() + storeActive("x.bin") + kClosed +
                        sizeAnswer("x.bin", "500 SIZE not understood\r\n") + quit(),
                    false, true, "100%", "226", {"Request 16 Done.", "StatusCode = 500", "Error = 500 (*"}},
        SessionCase{"the server holds another size",
                    login() + types() + storeActive("x.bin") + kClosed + sizeAnswer("x.bin", "213 299999\r\n") + quit(),
                    false, false, "?", "Error:size",
                    {"Request 16 Done.",
                     "Error:size: the server holds 299999 bytes of x.bin, the part has 300000 bytes",
                     "Request 15 Done."}},
        SessionCase{"a wrong password on a server that keeps the connection",
                    {Step::reply("220 ready\r\n"), Step::expect("USER u"), Step::reply("331 password please\r\n"),
                     Step::expect("PASS " + kPassword.toUtf8()),
                     Step::reply("530 Login incorrect: " + kPassword.toUtf8() + "\r\n"), Step::expect("QUIT"),
                     Step::reply("221 bye\r\n")},
                    false, false, "?", "530",
                    {"Connect Attempt # 1", "Request 5 Done.", "StatusCode = 530",
                     "LastResponse was : '530 Login incorrect: ****'", "Error = 530 (530 Login incorrect: ****)",
                     "Request 15 Done.", "No error"}},
        SessionCase{"no password: the login fails at once, QUIT",
                    QList<Step>{Step::reply("220 ready\r\n"), Step::expect("USER u"), Step::reply("331 pw\r\n")} + quit(),
                    false, false, "?", "500", {"! Password emtpy", "Error = 500 (Password emtpy)", "> QUIT"}, ftpTlsOff, ""},
        SessionCase{"234 to AUTH TLS, then a broken handshake: given up at once, when offered too",
                    {Step::reply("220 ready\r\n"), Step::expect("AUTH TLS"), Step::reply("234 go\r\n"), Step::pause(100),
                     Step::reply("\x16\x03")},
                    false, false, "?", "Error:TLS", {"< 234 go", "Error:TLS: 500 TLS handshake with 127.0.0.1:*"},
                    ftpTlsWhenOffered},
        SessionCase{"the store refused",
                    login() + types() +
                        QList<Step>{Step::expect("PORT *"), Step::reply("200 PORT ok\r\n"), Step::expect("STOR x.bin"),
                                    Step::reply("553 not allowed\r\n")} +
                        quit(),
                    false, false, "Starting...", "553",
                    {"< 553 not allowed", "Request 17 Done.", "StatusCode = 553", "Error = 553 (553 not allowed)"}},
        SessionCase{"every byte sent but the store failed: the row is to be sent again",
                    login() + types() + storeActive("x.bin") + QList<Step>{Step::reply("452 disk full\r\n")} + quit(),
                    false, false, "?", "452", {"< 452 disk full", "! STOR Failed", "StatusCode = 452"}}));

// ---- a busy account and a store that breaks off: tried again in the same run ----

struct RetryCase {
    const char* name;
    QList<Step> script;  // for the part "x.bin" of 300000 bytes
    bool resume;
    bool allStored;
    const char* progress;
    const char* status;
    QStringList logged;  // in this order
    std::function<QByteArray(const QByteArray& part)> received;  // every data connection's bytes
};

void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }

class UploadRetry : public UploadRun, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(UploadRetry, TheRowEndsAsTheLastAttemptDid) {
    const RetryCase& c = GetParam();
    ScriptedFtpServer server(c.script);
    m_settings.resume = c.resume;
    const QByteArray part = SeededBytes(300000, 11);
    addPart("x.bin", part, siteOf(server));
    EXPECT_EQ(sendAndWait(), c.allStored);
    EXPECT_EQ(progress(0), c.progress);
    EXPECT_EQ(status(0), c.status);
    EXPECT_EQ(missingInOrder(m_log, c.logged), "");
    EXPECT_TRUE(waitUntil([&] { return server.finished(); }, 10000));
    EXPECT_EQ(server.failures(), "");
    EXPECT_TRUE(server.dataReceived() == c.received(part)) << server.dataReceived().size();
}

const QList<Step> kCut = {Step::expect("PORT *"),       Step::reply("200 PORT ok\r\n"),
                          Step::expect("STOR x.bin"),    Step::reply("150 go ahead\r\n"),
                          Step::connectToPort(),         Step::cutDataAfter(150000),
                          Step::reply("426 Connection closed; transfer aborted.\r\n"), Step::expect("FEAT")};
const QByteArray kRestStream = "211-Features:\r\n SIZE\r\n REST STREAM\r\n211 End\r\n";
const QList<Step> kAgain = QList<Step>{Step::nextConnection()} + login() + types();
QList<Step> resumedAt(const QByteArray& held) {
    return {Step::expect("SIZE x.bin"), Step::reply("213 " + held + "\r\n"), Step::expect("PORT *"),
            Step::reply("200 PORT ok\r\n"), Step::expect("REST " + held), Step::reply("350 Restart position accepted\r\n"),
            Step::expect("STOR x.bin"), Step::reply("150 go ahead\r\n"), Step::connectToPort(), Step::receiveData(),
            Step::reply("226 stored\r\n")};
}
const auto kWhole = [](const QByteArray& part) { return part; };
const auto kCutThenWhole = [](const QByteArray& part) { return part.left(150000) + part; };

INSTANTIATE_TEST_SUITE_P(
    BusyAndBroken, UploadRetry,
    ::testing::Values(
        RetryCase{"421 at the first connection: the part waits, then is stored",
                  QList<Step>{Step::reply("421 There are too many connections from your internet address.\r\n"),
                              Step::nextConnection()} +
                      goodSession("x.bin", 300000),
                  false, true, "100%", "226",
                  {"Connect Attempt # 1", "< 421 There are too many connections *", "Request 5 Done.",
                   "! u@127.0.0.1:*", "Connect Attempt # 2",
                   "> STOR x.bin", "StatusCode = 226"},
                  kWhole},
        RetryCase{"530 too many users on an open connection: closed, waits, stored",
                  QList<Step>{Step::reply("220 ready\r\n"), Step::expect("USER u"), Step::reply("331 pw\r\n"),
                              Step::expect("PASS *"),
                              Step::reply("530 Sorry, the maximum number of clients (1) for this user are already "
                                          "connected.\r\n"),
                              Step::nextConnection()} +
                      goodSession("x.bin", 300000),
                  false, true, "100%", "226", {"! u@127.0.0.1:*", "Connect Attempt # 2", "No error"},
                  kWhole},
        RetryCase{"cut at 50 % with REST STREAM: the second attempt sends only the rest",
                  login() + types() + kCut + QList<Step>{Step::reply(kRestStream)} + quit() + kAgain +
                      resumedAt("150000") + sizeAnswer("x.bin", "213 300000\r\n") + quit(),
                  true, true, "100%", "226",
                  {"Request 17 Done.", "StatusCode = 426", "> FEAT", "< 211 End",
                   "! The store broke off after *", "Connect Attempt # 2", "> SIZE x.bin",
                   "! Resuming part at byte 150000", "> REST 150000", "> STOR x.bin", "StatusCode = 226"},
                  kWhole},
        RetryCase{"cut at 50 % without REST STREAM: sent again from byte 0",
                  login() + types() + kCut + QList<Step>{Step::reply("211-Features:\r\n SIZE\r\n211 End\r\n")} +
                      quit() + kAgain + storeActive("x.bin") + QList<Step>{Step::reply("226 stored\r\n")} +
                      sizeAnswer("x.bin", "213 300000\r\n") + quit(),
                  true, true, "100%", "226",
                  {"! The store broke off after *", "Connect Attempt # 2", "> STOR x.bin",
                   "StatusCode = 226"},
                  kCutThenWhole},
        RetryCase{"the server holds more than the part: sent again from byte 0",
                  login() + types() + kCut + QList<Step>{Step::reply(kRestStream)} + quit() + kAgain +
                      sizeAnswer("x.bin", "213 400000\r\n") + storeActive("x.bin") +
                      QList<Step>{Step::reply("226 stored\r\n")} + sizeAnswer("x.bin", "213 300000\r\n") + quit(),
                  true, true, "100%", "226",
                  {"! The server holds 400000 bytes, more than the part: it is sent from byte 0", "> STOR x.bin"},
                  kCutThenWhole},
        RetryCase{"a resumed store whose size comes out wrong",
                  login() + types() + kCut + QList<Step>{Step::reply(kRestStream)} + quit() + kAgain +
                      resumedAt("150000") + sizeAnswer("x.bin", "213 299000\r\n") + quit(),
                  true, false, "?", "Error:size",
                  {"! Resuming part at byte 150000",
                   "Error:size: the server holds 299000 bytes of x.bin, the part has 300000 bytes"},
                  kWhole}));

// ---- whole runs ----

TEST_F(UploadRun, OneSessionPerRowAndRowsAt100PercentAreSkipped) {
    ScriptedFtpServer first(goodSession("a.bin", 5000));
    ScriptedFtpServer third(goodSession("c.bin", 0));
    addPart("a.bin", SeededBytes(5000, 1), siteOf(first));
    // "Do Not Upload": not even connected to (the scripted server would take only one).
    addPart("b.bin", SeededBytes(700, 2), "127.0.0.1:9", "100%", "--");
    addPart("c.bin", QByteArray(), siteOf(third));
    bool eventsInsideTheRun = true;
    QList<bool> running;
    m_driver.onRunning = [&](bool r) { running << r; };
    m_client.OnStateChange = [&](TCustomFtpClient*) { eventsInsideTheRun &= m_driver.running(); };

    EXPECT_TRUE(sendAndWait());
    EXPECT_EQ(running, (QList<bool>{true, false}));
    EXPECT_TRUE(eventsInsideTheRun) << "every client event came while the run was in progress";
    EXPECT_EQ(m_table.rowCells(0).mid(7), (QStringList{"100%", "226"}));
    EXPECT_EQ(m_table.rowCells(1).mid(7), (QStringList{"100%", "--"}));
    EXPECT_EQ(m_table.rowCells(2).mid(7), (QStringList{"100%", "226"})) << "an empty part is sent, and shows 100%";
    EXPECT_EQ(m_log.filter("Connect Attempt # "), (QStringList{"Connect Attempt # 1", "Connect Attempt # 1"}));
    EXPECT_EQ(missingInOrder(m_log, {"> STOR a.bin", "Request 15 Done.", "Connect Attempt # 1",
                                     // From the second session on, the login is logged too.
                                     "> USER u", "> PASS ****", "< 230 in", "Request 5 Done.", "> TYPE I",
                                     "> TYPE I", "> STOR c.bin", "! 0 bytes received/sent in *",
                                     "Request 17 Done.", "> QUIT"}),
              "");
    for (ScriptedFtpServer* server : {&first, &third}) {
        EXPECT_TRUE(waitUntil([&] { return server->finished(); }, 10000));
        EXPECT_EQ(server->failures(), "") << "connect, two TYPE, STOR, SIZE, QUIT in that order";
    }
    EXPECT_TRUE(first.dataReceived() == m_parts[0]);
    EXPECT_TRUE(m_prompt.messages().isEmpty());

    // Everything sent: the next Send File connects nowhere.
    m_log.clear();
    EXPECT_TRUE(sendAndWait());
    EXPECT_TRUE(m_log.isEmpty()) << m_log.join('\n').toStdString();
}

TEST_F(UploadRun, AnUnresolvableHostIsTriedUntilAbortWhoseWaitEndsAtOnce) {
    addPart("a.bin", "abc", "no-such-host.invalid");
    abortWhen([this] { return m_log.contains("Connect Attempt # 4"); });
    EXPECT_FALSE(sendAndWait());
    const QStringList attempts = m_log.filter("Connect Attempt # ");
    ASSERT_GE(attempts.size(), 4);
    for (int i = 0; i < attempts.size(); ++i)
        EXPECT_EQ(attempts[i], QString("Connect Attempt # %1").arg(i + 1));
    EXPECT_EQ(missingInOrder(m_log, {"Request 5 Done.", "StatusCode = 500", "LastResponse was : '500 Host not found (Winsock error #11001)'",
                                     "Error = 11001 (500 Host not found (Winsock error #11001))"}),
              "");
    EXPECT_EQ(m_prompt.messages(), QStringList{"FTP-Aborted"});
    EXPECT_EQ(m_table.rowCells(0).mid(7), (QStringList{"?", "?"})) << "no store, no Status";

    // A long wait between attempts ends with the abort, not when it runs out.
    m_log.clear();
    m_prompt.forget();
    m_settings.firstRetryWaitMs = 600000;
    abortWhen([this] { return m_log.contains("Connect Attempt # 1") && m_client.State() == fcReady; });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(sendAndWait());
    EXPECT_LT(clock.elapsed(), 60000);
    EXPECT_EQ(m_log.filter("Connect Attempt # ").size(), 1);
    EXPECT_EQ(m_prompt.messages(), QStringList{"FTP-Aborted"});
}

TEST_F(UploadRun, APartAbortedMidwayIsSentAgainFromTheStart) {
    const QByteArray part = SeededBytes(24 << 20, 3);
    ScriptedFtpServer first(login() + types() + storeActive("big.bin"));
    addPart("big.bin", part, siteOf(first));
    abortWhen([this] {
        const int percent = progress(0).chopped(1).toInt();
        return progress(0).endsWith('%') && percent > 0 && percent < 100;
    });
    EXPECT_FALSE(sendAndWait());
    const int reached = progress(0).chopped(1).toInt();
    EXPECT_TRUE(progress(0).endsWith('%') && reached > 0 && reached < 100) << progress(0).toStdString();
    EXPECT_EQ(m_prompt.messages(), QStringList{"FTP-Aborted"});
    EXPECT_EQ(missingInOrder(m_log, {"> STOR big.bin", "Request 17 Done.", "Error = 426 (426 Operation aborted.)"}), "");
    EXPECT_EQ(m_log.filter("SIZE").size(), 0) << "no size asked of a store that did not end";
    EXPECT_TRUE(waitUntil([&] { return first.finished(); }, 10000));
    EXPECT_LT(first.dataReceived().size(), part.size());

    ScriptedFtpServer second(goodSession("big.bin", part.size()));
    m_table.setCell(0, UploadColumn::FtpSite, siteOf(second));
    m_prompt.forget();
    EXPECT_TRUE(sendAndWait());
    EXPECT_EQ(m_table.rowCells(0).mid(7), (QStringList{"100%", "226"}));
    EXPECT_TRUE(waitUntil([&] { return second.finished(); }, 10000));
    EXPECT_EQ(second.failures(), "") << "STOR again, no resume";
    EXPECT_TRUE(second.dataReceived() == part) << "the whole part, from its first byte";
    EXPECT_TRUE(m_prompt.messages().isEmpty());
}

TEST_F(UploadRun, AbortWhileIdleShowsNothingAndTheNextRunIsNormal) {
    m_driver.Abort();
    EXPECT_TRUE(m_driver.aborted());
    EXPECT_TRUE(m_prompt.shown().isEmpty());
    ScriptedFtpServer server(goodSession("a.bin", 10));
    addPart("a.bin", "0123456789", siteOf(server));
    EXPECT_TRUE(sendAndWait());
    EXPECT_EQ(m_table.rowCells(0).mid(7), (QStringList{"100%", "226"}));
    EXPECT_TRUE(m_prompt.shown().isEmpty());
}

// A type command that gets no answer ends by the time limit; its completion comes
// late, during the next row's session, and must not touch that row's Status.
TEST_F(UploadRun, ALateCompletionLeavesStatusToTheStoreOfItsOwnRow) {
    m_client.SetTimeout(1);
    ScriptedFtpServer silent(login() + QList<Step>{Step::expect("TYPE I"), Step::stall()});
    ScriptedFtpServer good(goodSession("b.bin", 20));
    addPart("a.bin", "first part", siteOf(silent));
    addPart("b.bin", SeededBytes(20, 9), siteOf(good));
    EXPECT_FALSE(sendAndWait());
    silent.release();
    EXPECT_EQ(m_table.rowCells(0).mid(7), (QStringList{"Starting...", "426"})) << "the store could not start";
    EXPECT_EQ(m_table.rowCells(1).mid(7), (QStringList{"100%", "226"}));
    EXPECT_EQ(missingInOrder(m_log, {"Connect Attempt # 1", "Request 5 Done.", "Connect Attempt # 1",
                                     "Request 36 Done.", "Request 5 Done.", "Request 17 Done.", "StatusCode = 226"}),
              "");
}

}  // namespace
