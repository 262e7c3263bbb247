// The window and a server whose certificate nobody vouches for (self-signed, served by
// nginx over HTTPS): the gather of a two-part manifest asks once, and No, Once and
// Always do what they say, Always also for a window opened later; a manifest link
// over HTTPS asks before its fetch.
#include "app/limit_spin_box.h"
#include "common/text_log.h"
#include "common/text_table.h"
#include "gather/download_table.h"
#include "gather/gather_engine.h"
#include "gather/gather_paths.h"
#include "net/tls_configuration.h"
#include "support/event_wait.h"
#include "support/manifest_maker.h"
#include "support/nginx_server.h"
#include "support/test_bytes.h"
#include "support/tls_certificates.h"
#include "window_fixture.h"

#include <QDir>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

class WindowTlsTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath("www")));
        WriteFileBytes(m_dir.filePath("www/clip1.bin"), m_parts[0]);
        WriteFileBytes(m_dir.filePath("www/clip2.bin"), m_parts[1]);
        const TlsCertificates::Pair self = TlsCertificates::get().selfSigned();
        m_server = std::make_unique<NginxServer>(m_dir.filePath("www"));
        m_server->addTlsServer(self.cert, self.key);
        ASSERT_TRUE(m_server->start()) << m_server->errorText().toStdString();
        m_manifest = ManifestLinesFor("clip.mov", m_parts, {m_server->tlsUrl("/clip1.bin"), m_server->tlsUrl("/clip2.bin")});
        WriteFileBytes(m_dir.filePath("www/clip.pwq"), ManifestFileText(m_manifest));
        m_fingerprint = TlsCertificates::fingerprintOf(self.cert);
        m_hostPort = QStringLiteral("localhost:%1").arg(m_server->tlsPort());
        forgetEverything();
    }
    void TearDown() override {
        m_form.reset();
        forgetEverything();
    }
    // A new process with nothing in its settings.
    static void forgetEverything() {
        TlsConfiguration::Shared().Reset();
        QSettings("Parcelwick", "Parcelwick").clear();
    }
    // A new window, as the program starts, gathering into its own folder.
    void openWindow(const QString& saveFolder) {
        m_form.reset();
        open();
        form().dedir->setText(m_dir.filePath(saveFolder) + "/");
    }
    QString cell(int row, int column) const { return m_form->downloadTable()->cell(row, column); }
    QString extracted(const QString& saveFolder) const {
        return "Extracted " + GatherPaths(m_dir.filePath(saveFolder) + "/", "clip.mov").outputFile() + " successfully!";
    }
    QStringList keptInSettings() const { return QSettings("Parcelwick", "Parcelwick").value("tls/trusted").toStringList(); }

    QTemporaryDir m_dir;
    std::unique_ptr<NginxServer> m_server;
    const QList<QByteArray> m_parts = {SeededBytes(70000, 21), SeededBytes(33333, 22)};
    QStringList m_manifest;
    QString m_fingerprint;
    QString m_hostPort;
};

TEST_F(WindowTlsTest, TheGatherAsksOncePerServerAndDoesWhatTheAnswerSays) {
    const struct {
        const char* name;
        CertificateAnswer answer;
        bool rebuilt;
        bool kept;  // in the settings, trusted by a window of a later run
    } rows[] = {
        {"No", CertificateAnswer::No, false, false},
        {"Once", CertificateAnswer::Once, true, false},
        {"Always", CertificateAnswer::Always, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        forgetEverything();
        const QString folder = QString("save-") + row.name;
        openWindow(folder);
        m_prompt.forget();
        m_prompt.answerCertificate(row.answer);
        // The other download fails while the question is open, and the gather must not
        // go on failing against that server meanwhile.
        m_prompt.setCertificateThinkingMs(300);
        form().mempwq.replace(m_manifest);
        form().btnldpwq2Click();
        ASSERT_TRUE(waitUntil([&] { return !m_prompt.certificateQuestions().isEmpty(); }));
        if (row.rebuilt)
            ASSERT_TRUE(waitUntil([&] { return !m_prompt.messages().isEmpty(); }));
        else
            ASSERT_TRUE(waitUntil([&] { return form().gather()->liveCount() == 0; }));
        runLoopFor(200);

        // Both downloads were refused at once; one question was asked, about that server.
        ASSERT_EQ(m_prompt.certificateQuestions().size(), 1);
        const CertificateQuestion asked = m_prompt.certificateQuestions()[0];
        EXPECT_EQ(asked.hostPort, m_hostPort);
        EXPECT_EQ(asked.sha256, m_fingerprint);
        EXPECT_EQ(asked.subject, "CN=localhost");
        EXPECT_EQ(asked.issuer, "CN=localhost");
        EXPECT_EQ(asked.reason, "self-signed certificate");
        EXPECT_EQ(asked.notBefore.daysTo(asked.notAfter), 30);
        EXPECT_EQ(m_prompt.messages(), row.rebuilt ? QStringList{extracted(folder)} : QStringList());
        EXPECT_EQ(form().stopFlag(), !row.rebuilt) << "a refused server lets the gather rest";
        // Refused: each part tried once, and not again against the same server. Trusted:
        // fetched again by the next pass (a part whose handshake came after the answer
        // got through at once).
        const int attempts = cell(0, DownloadColumn::Attempts).toInt() + cell(1, DownloadColumn::Attempts).toInt();
        if (row.rebuilt) {
            EXPECT_TRUE(attempts == 3 || attempts == 4) << attempts;
        } else {
            EXPECT_EQ(attempts, 2);
        }
        for (int r = 0; r < 2; ++r)
            EXPECT_EQ(cell(r, DownloadColumn::Status).startsWith("Error"), !row.rebuilt) << r;
        EXPECT_EQ(keptInSettings(), row.kept ? QStringList{m_hostPort + ' ' + m_fingerprint} : QStringList());

        // A later run: a new process and a new window. What was kept is trusted without
        // a question; anything else is asked about again (refused by the empty script).
        TlsConfiguration::Shared().Reset();
        openWindow(folder + "-later");
        m_prompt.forget();
        m_prompt.setCertificateThinkingMs(0);
        form().mempwq.replace(m_manifest);
        form().btnldpwq2Click();
        ASSERT_TRUE(waitUntil([&] { return !m_prompt.shown().isEmpty() && form().gather()->liveCount() == 0; }));
        runLoopFor(200);
        EXPECT_EQ(m_prompt.certificateQuestions().size(), row.kept ? 0 : 1);
        EXPECT_EQ(m_prompt.messages(), row.kept ? QStringList{extracted(folder + "-later")} : QStringList());
    }
}

// A manifest link over HTTPS, clicked on a page: after the usual question the fetch
// meets the certificate, and the user decides; trusted, the manifest is loaded and its
// parts (on the same server) come without a second question.
TEST_F(WindowTlsTest, AManifestLinkOverHttpsAsksBeforeItIsLoaded) {
    const QString link = m_server->tlsUrl("/clip.pwq");
    WriteFileBytes(m_dir.filePath("www/page.html"), QString("<html><body><a href='%1'>clip</a></body></html>").arg(link).toUtf8());
    for (const CertificateAnswer answer : {CertificateAnswer::No, CertificateAnswer::Once}) {
        const bool trusted = answer == CertificateAnswer::Once;
        SCOPED_TRACE(trusted ? "Once" : "No");
        forgetEverything();
        openWindow(trusted ? "link-once" : "link-no");
        form().WebBrowser1->setUrl(QUrl(m_server->url("/page.html")));
        m_prompt.forget();
        m_prompt.answerConfirm(true);
        m_prompt.answerCertificate(answer);
        // The page may still be loading: click until the link is taken.
        ASSERT_TRUE(waitUntil([&] {
            if (m_prompt.shown().isEmpty())
                form().WebBrowser1->page()->runJavaScript("document.links.length && document.links[0].click()");
            return !m_prompt.messages().isEmpty();
        }, 30000));
        ASSERT_EQ(m_prompt.certificateQuestions().size(), 1);
        EXPECT_EQ(m_prompt.certificateQuestions()[0].hostPort, m_hostPort);
        EXPECT_EQ(m_prompt.shown()[0].text, "Do you want to download " + link + "?");
        if (trusted) {
            EXPECT_EQ(form().mempwq.lines(), m_manifest);
            EXPECT_EQ(m_prompt.messages(), QStringList{extracted("link-once")});
        } else {
            EXPECT_EQ(m_prompt.messages(),
                      QStringList{"Certificate of " + m_hostPort + " not trusted: self-signed certificate (Error #12202)"});
            EXPECT_EQ(form().downloadTable()->rows(), 0);
        }
    }
}

}  // namespace
