#include "browser/browser_panel.h"

#include "gather/manifest_fetch.h"
#include "browser/manifest_link.h"
#include "browser/navigation_page.h"
#include "common/manifest_format.h"
#include "common/user_prompt.h"
#include "gather/manifest_parts.h"
#include "http/http_client.h"
#include "net/async_socket.h"
#include "net/tls_error.h"
#include "net/tls_trust_question.h"

#include <QComboBox>
#include <QUrl>
#include <QWebEngineView>

BrowserPanel::BrowserPanel(const Controls& controls, std::function<void()> manifestLoaded, QObject* parent)
    : QObject(parent), m_controls(controls), m_manifestLoaded(std::move(manifestLoaded)) {
    m_page = new NavigationPage(m_controls.view);
    m_controls.view->setPage(m_page);
}

void BrowserPanel::Go() { m_controls.view->setUrl(QUrl::fromUserInput(m_controls.address->currentText())); }

void BrowserPanel::DownloadComplete() {
    const QString location = m_controls.view->url().toString();
    QComboBox* box = m_controls.address;
    // MatchFixedString without MatchCaseSensitive compares whole texts in any case.
    if (location.isEmpty() || box->findText(location, Qt::MatchFixedString) >= 0)
        return;
    // The first item added to a combo box becomes its current one and would replace
    // what the user typed.
    const QString typed = box->currentText();
    box->addItem(location);
    box->setEditText(typed);
}

void BrowserPanel::BeforeNavigate(const QUrl& target, bool& cancel) {
    if (!IsManifestLink(target))
        return;
    cancel = true;
    emit manifestLinkClicked(target.toString());
}

void BrowserPanel::DownloadManifest(const QString& url) {
    UserPrompt& prompt = *m_controls.prompt;
    if (!prompt.confirm("Do you want to download " + url + "?"))
        return;
    const QStringList lines = fetch(url);
    const QString refusal = ManifestRefusal(lines);
    if (!refusal.isEmpty()) {
        prompt.information(refusal);
        return;
    }
    m_controls.manifest->replace(lines);
    m_manifestLoaded();
}

QStringList BrowserPanel::fetch(const QString& url) {
    THttpClient& client = *m_controls.client;
    for (;;) {
        try {
            return FetchManifestLines(client, url, *m_controls.fetched, kManifestFetchTimeoutSeconds);
        } catch (const EHttpException&) {
            // An untrusted certificate is the user's to decide on; once trusted, the link
            // is fetched again. Declined, the error report shows why nothing came.
            if (client.RequestDoneError() != TLS_ERR_CERTIFICATE)
                throw;
            const std::optional<TlsRefusal> refusal =
                TlsConfiguration::Shared().TakeRefusal(client.CtrlSocket()->TlsHostPort());
            if (!refusal || !AskToTrustCertificate(*m_controls.prompt, *refusal))
                throw;
        }
    }
}
