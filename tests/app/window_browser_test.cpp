// The browser page with a real web view, offscreen, on pages served by nginx: links to
// manifests are fetched by the window's own HTTP client and fill the download table,
// other links are shown, and the address box keeps its history.
#include "app/limit_spin_box.h"
#include "common/manifest_format.h"
#include "common/text_log.h"
#include "common/text_table.h"
#include "http/http_client.h"
#include "support/event_wait.h"
#include "support/nginx_server.h"
#include "support/scripted_server.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <memory>

namespace {

constexpr int kBrowserPage = 4;

const QStringList kManifest = {ManifestSignature, ManifestVersion, "movie.avi", "0A1B2C3D", "2",
                               "http://w.example/movie1.bin", "4", "11111111",
                               "http://w.example/movie2.bin", "2", "22222222", "me", "my movie"};
// What the window holds before each link is followed.
const QStringList kEarlier = {ManifestSignature, ManifestVersion, "earlier.iso", "00000000", "1",
                              "http://e.example/earlier1.bin", "3", "33333333"};

QByteArray joined(const QStringList& lines, const char* lineEnd, bool finalBreak = true) {
    const QByteArray text = lines.join(QString::fromLatin1(lineEnd)).toUtf8();
    return finalBreak ? text + lineEnd : text;
}

class BrowserWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_site.isValid());
        open();
        // The gather must start nothing: these manifests name parts nobody serves.
        form().sdl->setValue(0);
        form().dedir->setText(m_site.path() + "/save/");
    }

    void write(const QString& name, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(m_site.filePath(name)).path());
        QFile f(m_site.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    // Waits until the view shows a complete page whose address starts with `url`, as
    // the page's script sees it. (The engine's own report of a load that follows a
    // cancelled navigation sometimes says "failed" although the page is shown.)
    void waitShown(const QString& url) {
        auto shown = std::make_shared<bool>(false);
        QTimer ask;
        QObject::connect(&ask, &QTimer::timeout, [&] {
            form().WebBrowser1->page()->runJavaScript(
                "document.readyState == 'complete' ? location.href : ''",
                [shown, url](const QVariant& href) { *shown = *shown || href.toString().startsWith(url); });
        });
        ask.start(20);
        ASSERT_TRUE(waitUntil([&] { return *shown; })) << url.toStdString();
    }

    // Types the address and sends the view there with Go, or with Enter.
    void visit(const QString& url, bool enter = false) {
        form().cbURL->setEditText(url);
        if (enter)
            typeKey(form().cbURL->lineEdit(), Qt::Key_Return, "\r");
        else
            form().SpeedButton2->click();
        waitShown(url);
    }

    int confirmsShown() const {
        int n = 0;
        for (const ScriptedPrompt::Shown& s : m_prompt.shown())
            n += s.kind == ScriptedPrompt::Kind::Confirm ? 1 : 0;
        return n;
    }

    QTemporaryDir m_site;
};

enum class Outcome { Loaded, Shown, Refused, Unchanged };

struct LinkRow {
    const char* href;
    bool answer;  // to the question, when it is asked
    Outcome outcome;
    QString message;  // Refused: the message shown
};

TEST_F(BrowserWindowTest, ManifestLinksFillTheTableAndOtherLinksAreShown) {
    const LinkRow rows[] = {
        {"/m/movie.PWQ", true, Outcome::Loaded, {}},   {"/m/lf.pwq", true, Outcome::Loaded, {}},
        {"/m/crlf.pwq", true, Outcome::Loaded, {}},    {"/m/nofinal.pwq", true, Outcome::Loaded, {}},
        {"/m/movie.PWQ", false, Outcome::Unchanged, {}}, {"/q/movie.pwq?x=1", true, Outcome::Shown, {}},
        {"/q/movie.pwq#top", true, Outcome::Shown, {}}, {"/m/gone.pwq", true, Outcome::Refused, "Not Found"},
        {"/m/notes.pwq", true, Outcome::Refused, "Not a Parcelwick file!"},
    };
    QByteArray links;
    for (const LinkRow& row : rows)
        links += QString("<a href='%1'>%1</a><br>").arg(row.href).toUtf8();
    write("page.html", "<html><body>" + links + "</body></html>");
    write("shown.html", "<html><body>shown by the browser</body></html>");
    write("m/movie.PWQ", joined(kManifest, "\r\n"));
    write("m/lf.pwq", joined(kManifest, "\n"));
    write("m/crlf.pwq", joined(kManifest, "\r\n"));
    write("m/nofinal.pwq", joined(kManifest, "\r\n", false));
    write("m/notes.pwq", "<html>\n<body>notes</body>\n</html>\n");
    // The browser's own request for /q/movie.pwq lands on a page it can show.
    NginxServer server(m_site.path(), {{"/q/movie.pwq", "/shown.html", 302}});
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();

    for (int i = 0; i < int(std::size(rows)); ++i) {
        const LinkRow& row = rows[i];
        SCOPED_TRACE(row.href);
        const QString page = server.url(QString("/page.html?row=%1").arg(i));
        form().WebBrowser1->setUrl(QUrl(page));
        waitShown(page);
        form().mempwq.replace(kEarlier);
        form().btnldpwq2Click();
        form().PageControl1->setCurrentIndex(kBrowserPage);
        form().httpLog()->append("earlier text");
        const QStringList fetchedBefore = form().httpLog()->lines();
        m_prompt.forget();
        m_prompt.answerConfirm(row.answer);
        form().WebBrowser1->page()->runJavaScript(QString("document.links[%1].click()").arg(i));

        if (row.outcome == Outcome::Shown) {
            waitShown(server.url("/shown.html"));
        } else {
            ASSERT_TRUE(waitUntil([&] { return confirmsShown() == 1; }));
            EXPECT_EQ(m_prompt.shown()[0].text, "Do you want to download " + server.url(row.href) + "?");
        }
        if (row.outcome == Outcome::Loaded)
            ASSERT_TRUE(waitUntil([&] { return form().downloadTable()->rows() == 2; }));
        else if (row.outcome == Outcome::Refused)
            ASSERT_TRUE(waitUntil([&] { return !m_prompt.messages().isEmpty(); }));
        else
            runLoopFor(300);  // a fetch that must not come has had its chance
        const bool loaded = row.outcome == Outcome::Loaded;
        EXPECT_EQ(confirmsShown(), row.outcome == Outcome::Shown ? 0 : 1);
        EXPECT_EQ(m_prompt.messages(), row.message.isEmpty() ? QStringList() : QStringList({row.message}));
        EXPECT_EQ(form().mempwq.lines(), loaded ? kManifest : kEarlier);
        EXPECT_EQ(form().downloadTable()->cell(0, 0), loaded ? "http://w.example/movie1.bin" : kEarlier[5]);
        EXPECT_EQ(form().PageControl1->currentIndex(), loaded ? 0 : kBrowserPage);
        if (loaded || row.outcome == Outcome::Unchanged) {
            EXPECT_EQ(form().httpLog()->lines(), loaded ? kManifest : fetchedBefore);
        }
        // A manifest link is never shown: the view stays on the page that holds it.
        if (row.outcome != Outcome::Shown) {
            EXPECT_EQ(form().WebBrowser1->url().toString(), page);
        }
        EXPECT_EQ(form().HttpClient1->State(), hsReady);
    }
}

TEST_F(BrowserWindowTest, GoAndEnterVisitAndTheHistoryHoldsEachPageOnce) {
    write("page.html", "<html><body>one</body></html>");
    write("PAGE.html", "<html><body>the same address in other letters</body></html>");
    write("other.html", "<html><body>two</body></html>");
    NginxServer server(m_site.path());
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();
    const QString page = server.url("/page.html");
    const QString other = server.url("/other.html");

    visit(page);
    visit(server.url("/PAGE.html"), true);
    visit(page, true);
    visit(other);
    visit(page);
    auto timesInHistory = [&](const QString& url) {
        int n = 0;
        for (int i = 0; i < form().cbURL->count(); ++i)
            n += form().cbURL->itemText(i).compare(url, Qt::CaseInsensitive) == 0 ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(waitUntil([&] { return timesInHistory(page) == 1 && timesInHistory(other) == 1; }));
    runLoopFor(100);
    EXPECT_EQ(timesInHistory(page), 1);
    const int pageAt = form().cbURL->findText(page, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    EXPECT_GE(pageAt, 0) << "the address first seen is the one kept";
    EXPECT_LT(pageAt, form().cbURL->findText(other)) << "in the order first seen";
    EXPECT_EQ(form().cbURL->currentText(), page);

    // A page's address joins the history without replacing what the user typed, also
    // when it is the first in the list.
    form().cbURL->clear();
    form().cbURL->setEditText("half typed");
    form().WebBrowser1DownloadComplete();
    EXPECT_EQ(form().cbURL->currentText(), "half typed");
    EXPECT_EQ(form().cbURL->itemText(0), page);
}

// The fetch waits for the document while the window goes on: its timers tick, and a
// second manifest link met meanwhile is refused by the busy client, not mixed in.
TEST_F(BrowserWindowTest, FetchKeepsTheWindowRunningAndSendsTheClientsRequest) {
    const QByteArray text = joined(kManifest, "\n");
    ScriptedServer server({{ScriptStep::readUntil("\r\n\r\n"),
                            ScriptStep::sendPieces({"HTTP/1.0 200 OK\r\n\r\n", text.left(40), text.mid(40)}, 250)}});
    const QString second = server.url("/files/second.pwq");
    m_prompt.answerConfirm(true);
    m_prompt.answerConfirm(true);
    int ticksWhileFetching = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (form().HttpClient1->State() != hsReady && ++ticksWhileFetching == 1)
            form().WebBrowser1->setUrl(QUrl(second));
    });
    tick.start(10);
    form().WebBrowser1->setUrl(QUrl(server.url("/files/first.pwq")));

    ASSERT_TRUE(waitUntil([&] { return form().downloadTable()->rows() == 2; }));
    EXPECT_EQ(form().mempwq.lines(), kManifest);
    EXPECT_GE(ticksWhileFetching, 10);
    ASSERT_EQ(confirmsShown(), 2);
    EXPECT_EQ(m_prompt.shown()[1].text, "Do you want to download " + second + "?");
    EXPECT_EQ(m_prompt.messages(), QStringList({"HTTP component is busy"}));
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(server.received(0), QByteArray("GET /files/first.pwq HTTP/1.0\r\n"
                                             "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
                                             "User-Agent: Mozilla/3.0 (compatible)\r\n"
                                             "Host: 127.0.0.1:" +
                                                 QByteArray::number(server.port()) + "\r\n\r\n"));
}

}  // namespace
