// Page 5, "Help/Upgrade/Ads": the browser, whose links to manifests start a gather.
#include "app/tform1.h"
#include "browser/browser_panel.h"
#include "browser/navigation_page.h"
#include "http/http_client.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QWebEngineView>

void TForm1::buildBrowser() {
    HttpClient1 = new THttpClient(this);
    HttpClient1->setObjectName("HttpClient1");
    m_browser = new BrowserPanel({cbURL, WebBrowser1, HttpClient1, m_httpLog, &mempwq, &m_prompt},
                                 [this] {
                                     PageControl1->setCurrentIndex(0);
                                     btnldpwq2Click();
                                 },
                                 this);
    m_browser->page()->OnBeforeNavigate = [this](const QUrl& target, bool& cancel) {
        guard([&] { WebBrowser1BeforeNavigate2(target, cancel); });
    };
    // The fetch waits and asks; it runs after the web engine has its answer.
    connect(m_browser, &BrowserPanel::manifestLinkClicked, this,
            [this](const QString& url) { guard([&] { WebBrowser1ManifestLink(url); }); }, Qt::QueuedConnection);
    connect(SpeedButton2, &QPushButton::clicked, this, guarded(&TForm1::SpeedButton2Click));
    // Enter in the address box does what Go does.
    connect(cbURL->lineEdit(), &QLineEdit::returnPressed, this, guarded(&TForm1::SpeedButton2Click));
    connect(WebBrowser1, &QWebEngineView::loadFinished, this, guarded(&TForm1::WebBrowser1DownloadComplete));
}

void TForm1::SpeedButton2Click() { m_browser->Go(); }

void TForm1::WebBrowser1DownloadComplete() { m_browser->DownloadComplete(); }

void TForm1::WebBrowser1BeforeNavigate2(const QUrl& target, bool& cancel) { m_browser->BeforeNavigate(target, cancel); }

void TForm1::WebBrowser1ManifestLink(const QString& url) { m_browser->DownloadManifest(url); }
