// Page 4's Send File and Abort FTP through the window: the whole road with scripted
// dialogs (split, sites, assignment, upload to a real FTP server, Make PWQ, gather from
// the real web server, the same bytes), and how a run ends by Abort FTP or by closing.
#include "app/limit_spin_box.h"
#include "common/text_log.h"
#include "common/text_table.h"
#include "gather/gather_engine.h"
#include "scatter/upload_driver.h"
#include "scatter/upload_table.h"
#include "support/event_wait.h"
#include "support/manifest_maker.h"
#include "support/part_server.h"
#include "net/tls_configuration.h"
#include "support/scripted_prompt.h"
#include "support/test_bytes.h"
#include "support/tls_certificates.h"
#include "support/vsftpd_server.h"
#include "support/web_host.h"
#include "window_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

namespace {

class UploadWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_home = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        open();
    }
    void TearDown() override {
        m_form.reset();
        qputenv("HOME", m_home);
    }
    void select(const QList<int>& rows) {
        form().lvfiles->clearSelection();
        for (int r : rows)
            form().lvfiles->selectionModel()->select(form().lvfiles->model()->index(r, 0),
                                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void addSite(const QString& ftpSite, const QString& user, const QString& password, const QString& webSite) {
        form().edtftpsite->setText(ftpSite);
        form().edtusername->setText(user);
        form().edtpassword->setText(password);
        form().edtWebSite->setText(webSite);
        form().btnAddFTPInfo->click();
    }
    // Send File, then the event loop until Send File comes back at the run's end.
    void sendFile() {
        form().Button2->click();
        EXPECT_TRUE(waitUntil([this] { return form().Button2->isEnabled(); }, 300000)) << "the run ended";
    }
    QString uploadCell(int row, int column) const { return m_form->uploadTable()->cell(row, column); }

    QTemporaryDir m_dir;
    QByteArray m_home;
};

TEST_F(UploadWindowTest, TheWholeRoadFromSplitToTheSameBytes) {
    const QList<WebHost::Account> accounts = {{"carl", "c4rl & co"}, {"dora", "d0ra-pass"}};
    WebHost host(accounts);
    ASSERT_TRUE(host.start()) << host.errorText().toStdString();
    const QByteArray original = SeededBytes((50 << 20) + 11, 77);
    const QString source = m_dir.filePath("concert.avi");
    WriteFileBytes(source, original);

    // Page 2: Browse and Split File into 7 parts.
    m_prompt.answerOpenFile(source);
    form().Button1->click();
    form().dedir->setText(m_dir.filePath("save") + '/');
    form().splitnumber->setValue(7);
    form().btnSplit->click();
    ASSERT_EQ(form().uploadTable()->rows(), 7);
    // Page 3: two accounts of the same host, typed with its port.
    for (const WebHost::Account& a : accounts)
        addSite(host.ftpSite(), a.user, a.password, host.webSite(a.user));
    // Page 4: odd parts to the first site, even ones to the second.
    select({0, 2, 4, 6});
    form().findChild<QAction*>("m1")->trigger();
    select({1, 3, 5});
    form().findChild<QAction*>("m2")->trigger();
    form().cbpassiveftp->setChecked(true);
    ASSERT_TRUE(m_prompt.messages().isEmpty()) << m_prompt.messages().join('|').toStdString();

    QList<bool> sendEnabled;
    QObject::connect(form().uploadTable(), &TextTable::dataChanged,
                     [&] { sendEnabled << form().Button2->isEnabled(); });
    sendFile();
    ASSERT_FALSE(sendEnabled.isEmpty());
    EXPECT_FALSE(sendEnabled.contains(true)) << "Send File waits while the run is in progress";
    EXPECT_TRUE(form().Button2->isEnabled());
    EXPECT_TRUE(m_prompt.messages().isEmpty()) << m_prompt.messages().join('|').toStdString();
    for (int r = 0; r < 7; ++r) {
        EXPECT_EQ(uploadCell(r, UploadColumn::Progress), "100%") << r;
        EXPECT_EQ(uploadCell(r, UploadColumn::Status), "226") << r;
        const QString name = QString("concert%1.bin").arg(r + 1);
        EXPECT_TRUE(ReadFileBytes(host.storedPath(accounts[r % 2].user, name)) ==
                    ReadFileBytes(uploadCell(r, UploadColumn::Filename)))
            << name.toStdString();
    }
    const QString memo = form().Memo1->toPlainText();
    for (const WebHost::Account& a : accounts)
        EXPECT_FALSE(memo.contains(a.password)) << "the FTP log pane holds a password";
    EXPECT_EQ(memo.count("Connect Attempt # 1"), 7);
    EXPECT_EQ(memo.count("> EPSV"), 7) << "passive, as the Options page says";
    EXPECT_EQ(memo, form().ftpLog()->lines().join('\n'));
    EXPECT_EQ(form().Edit2->text(), uploadCell(6, UploadColumn::Size)) << "the last part's bytes sent";
    EXPECT_EQ(form().statelabel->text(), "1") << "ready";

    // Make PWQ, then the receiving side opens it on page 1.
    const QString manifest = m_dir.filePath("concert.pwq");
    m_prompt.answerSaveFile(manifest);
    form().btnMain->click();
    ASSERT_TRUE(QFile::exists(manifest)) << m_prompt.messages().join('|').toStdString();
    form().dedir->setText(m_dir.filePath("recv") + '/');
    m_prompt.answerOpenFile(manifest);
    form().btnLoadpwq->click();
    const QString rebuilt = m_dir.filePath("recv/concert.avi.dir/concert.avi");
    EXPECT_TRUE(waitUntil([&] { return !m_prompt.messages().filter("successfully").isEmpty(); }, 120000))
        << m_prompt.messages().join('|').toStdString();
    EXPECT_EQ(m_prompt.messages().last(), "Extracted " + rebuilt + " successfully!");
    EXPECT_TRUE(ReadFileBytes(rebuilt) == original) << "byte-identical";
}

// "Upload to this many sites at once" and the page-4 web check through the window's
// handlers: three accounts at once, the first through Ftpc1, each log line with its account.
TEST_F(UploadWindowTest, ThreeSitesAtOnceThroughTheWindow) {
    const QList<WebHost::Account> accounts = {{"eva", "e-pass"}, {"finn", "f-pass"}, {"gus", "g-pass"}};
    WebHost host(accounts);
    host.ftp().logCommands();
    ASSERT_TRUE(host.start()) << host.errorText().toStdString();
    EXPECT_EQ(form().sesitesatonce->value(), 1) << "one site after another unless asked";
    EXPECT_FALSE(form().cbresumeupload->isChecked());
    EXPECT_FALSE(form().cbcheckweb->isChecked());
    for (int i = 0; i < 3; ++i) {
        const QString path = m_dir.filePath(QString("w%1.bin").arg(i + 1));
        WriteFileBytes(path, SeededBytes(3 << 20, 30 + i));
        form().uploadTable()->addRow({path, host.webSite(accounts[i].user), QString::number(3 << 20), "00000000",
                                      host.ftpSite(), accounts[i].user, accounts[i].password, "?", "?"});
    }
    form().sesitesatonce->setValue(3);
    form().cbcheckweb->setChecked(true);
    sendFile();
    const QString memo = form().Memo1->toPlainText();
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(uploadCell(r, UploadColumn::Progress), "100%") << r;
        EXPECT_EQ(uploadCell(r, UploadColumn::Status), "226") << r;
        EXPECT_TRUE(ReadFileBytes(host.storedPath(accounts[r].user, QString("w%1.bin").arg(r + 1))) ==
                    ReadFileBytes(uploadCell(r, UploadColumn::Filename)));
        const QString prefix = '[' + accounts[r].user + '@' + host.ftpSite() + "] ";
        EXPECT_TRUE(memo.contains(prefix + QString("> STOR w%1.bin").arg(r + 1))) << prefix.toStdString();
        EXPECT_TRUE(memo.contains(prefix + "! " + host.webSite(accounts[r].user) + QString("w%1.bin serves the part").arg(r + 1)));
    }
    EXPECT_GE(host.ftp().mostSessionsAtOnce(QString()), 2) << "the sites were sent to at once";
    EXPECT_EQ(form().statelabel->text(), "1") << "Ftpc1 ran the first session";
}

// A run that cannot connect waits between attempts; Abort FTP ends it, and so does
// closing the window, which also ends the live downloads.
TEST_F(UploadWindowTest, AbortFtpAndClosingTheWindowEndTheRun) {
    EXPECT_EQ(form().cbpassiveftp->text(), "Passive FTP (behind a router or firewall)");
    EXPECT_FALSE(form().cbpassiveftp->isChecked()) << "active transfers unless asked";
    const QString part = m_dir.filePath("p1.bin");
    WriteFileBytes(part, "part");
    form().uploadTable()->addRow({part, "http://w.example/", "4", "00000000", "no-such-host.invalid", "u", "pw", "?", "?"});

    struct Ending {
        const char* name;
        std::function<void()> act;
    };
    const Ending endings[] = {
        {"Abort FTP", [&] { form().btnAbortFTP->click(); }},
        {"closing the window",
         [&] {
             QCloseEvent close;
             QCoreApplication::sendEvent(&form(), &close);
             EXPECT_TRUE(close.isAccepted());
         }},
    };
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.name);
        const QByteArray partBytes = SeededBytes(5000, 5);
        PartServer silent({{"/s1.bin", {PartReply::silent()}}});
        const QString manifest = m_dir.filePath("s.pwq");
        WriteFileBytes(manifest, ManifestFileText(ManifestLinesFor("s.dat", {partBytes}, {silent.url("/s1.bin")})));
        form().dedir->setText(m_dir.filePath("recv") + '/');
        m_prompt.answerOpenFile(manifest);
        form().btnLoadpwq->click();
        ASSERT_EQ(form().gather()->liveCount(), 1);
        m_prompt.forget();
        form().Clear1Click();

        bool enabledInRun = true;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            // The first attempt failed: the run now waits a second before the next one.
            if (!form().ftpLog()->lines().contains("Error = 11001 (500 Host not found (Winsock error #11001))"))
                return;
            poll.stop();
            enabledInRun = form().Button2->isEnabled();
            ending.act();
        });
        poll.start(5);
        sendFile();
        EXPECT_FALSE(enabledInRun);
        EXPECT_TRUE(form().Button2->isEnabled());
        EXPECT_EQ(m_prompt.messages(), QStringList{"FTP-Aborted"});
        EXPECT_EQ(form().ftpLog()->lines().filter("Connect Attempt # "), QStringList{"Connect Attempt # 1"});
        EXPECT_FALSE(form().ftpAborted()) << "cleared at the end of the run";
        const bool closed = QString(ending.name) == "closing the window";
        EXPECT_EQ(form().stopFlag(), closed);
        EXPECT_TRUE(waitUntil([&] { return form().gather()->liveCount() == (closed ? 0 : 1); }));
        form().btnAbortDL->click();
        EXPECT_TRUE(waitUntil([&] { return form().gather()->liveCount() == 0; }));
    }
}

// "FTP over TLS" on the Options page, against a server whose certificate is its own:
// each run asks once, No gives up every part of that server without retrying, Once
// sends them all under TLS.
TEST_F(UploadWindowTest, OverTlsAnUntrustedServerIsAskedAboutOncePerRun) {
    EXPECT_EQ(form().cbftptls->currentText(), "Off (plain FTP)") << "plain FTP unless asked";
    TlsConfiguration::Shared().Reset();
    const TlsCertificates::Pair self = TlsCertificates::get().selfSigned();
    VsftpdServer server;
    server.enableTls(self.cert, self.key);
    server.addAccount("ed", "ed-tls-pass", m_dir.filePath("ed"));
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    const QList<QByteArray> parts = {SeededBytes(700000, 8), SeededBytes(12345, 9)};
    for (int i = 0; i < parts.size(); ++i) {
        const QString path = m_dir.filePath(QString("t%1.bin").arg(i + 1));
        WriteFileBytes(path, parts[i]);
        form().uploadTable()->addRow({path, "https://w.example/", QString::number(parts[i].size()), "00000000",
                                      QString("localhost:%1").arg(server.port()), "ed", "ed-tls-pass", "?", "?"});
    }
    form().cbftptls->setCurrentText("Required");

    m_prompt.answerCertificate(CertificateAnswer::No);
    sendFile();
    ASSERT_EQ(m_prompt.certificateQuestions().size(), 1);
    EXPECT_EQ(m_prompt.certificateQuestions()[0].sha256, TlsCertificates::fingerprintOf(self.cert));
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(uploadCell(r, UploadColumn::Status), "Error:certificate") << r;
        EXPECT_EQ(uploadCell(r, UploadColumn::Progress), "?") << r;
    }
    EXPECT_EQ(form().ftpLog()->lines().filter("Connect Attempt # ").size(), 2) << "one attempt per part";

    m_prompt.forget();
    m_prompt.answerCertificate(CertificateAnswer::Once);
    form().ftpLog()->clear();
    sendFile();
    EXPECT_EQ(m_prompt.certificateQuestions().size(), 1);
    EXPECT_TRUE(m_prompt.messages().isEmpty()) << m_prompt.messages().join('|').toStdString();
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(uploadCell(r, UploadColumn::Progress), "100%") << r;
        EXPECT_EQ(uploadCell(r, UploadColumn::Status), "226") << r;
        EXPECT_TRUE(ReadFileBytes(m_dir.filePath(QString("ed/t%1.bin").arg(r + 1))) == parts[r]) << r;
    }
    const QStringList log = form().ftpLog()->lines();
    EXPECT_EQ(log.filter("! TLS data connection: ").size(), 2) << log.join('\n').toStdString();
    EXPECT_FALSE(log.join('\n').contains("ed-tls-pass"));
    TlsConfiguration::Shared().Reset();
}

// File > Exit ends the program also while a run waits between attempts. (The exit ends
// every later event loop of the process: ctest runs each test in a process of its own,
// and this one comes last in the file.)
TEST_F(UploadWindowTest, FileExitEndsARunThatWaits) {
    const QString part = m_dir.filePath("p1.bin");
    WriteFileBytes(part, "part");
    form().uploadTable()->addRow({part, "http://w.example/", "4", "00000000", "no-such-host.invalid", "u", "pw", "?", "?"});
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // The first attempt failed: the run now waits before the next one.
        if (form().ftpLog()->lines().filter("Error = ").isEmpty())
            return;
        poll.stop();
        form().findChild<QAction*>("Exit1")->trigger();
        // Without the abort the run would go on: end it after its next attempts.
        QTimer::singleShot(3500, &form(), [this] { form().btnAbortFTP->click(); });
    });
    poll.start(5);
    sendFile();
    EXPECT_EQ(form().ftpLog()->lines().filter("Connect Attempt # "), QStringList{"Connect Attempt # 1"});
    EXPECT_EQ(m_prompt.messages(), QStringList{"FTP-Aborted"});
    EXPECT_TRUE(form().Button2->isEnabled());
}

}  // namespace
