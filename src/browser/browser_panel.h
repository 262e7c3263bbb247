#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class ManifestLines;
class NavigationPage;
class QComboBox;
class QUrl;
class QWebEngineView;
class THttpClient;
class TextLog;
class UserPrompt;

// The browser of the window's "Help/Upgrade/Ads" page: the address box with the pages
// already shown, the web view, and the links to manifests, which are not shown but
// fetched with the program's own HTTP client and handed to the gather.
class BrowserPanel : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QComboBox* address;       // cbURL: editable; its list is the history
        QWebEngineView* view;     // WebBrowser1: gets a NavigationPage
        THttpClient* client;      // HttpClient1: fetches manifests
        TextLog* fetched;         // httpmemo: the text of the last fetched manifest
        ManifestLines* manifest;  // mempwq: the lines of the current manifest
        UserPrompt* prompt;
    };
    // `manifestLoaded` runs once a fetched manifest's lines stand in `manifest`; the
    // window shows its gather page and runs Check and fill there.
    BrowserPanel(const Controls& controls, std::function<void()> manifestLoaded, QObject* parent = nullptr);

    NavigationPage* page() const { return m_page; }

    // Go and Enter: the view goes to the address as typed.
    void Go();
    // A page has loaded: its address joins the history unless the history already holds
    // it in some letter case. The typed address stays as it is.
    void DownloadComplete();
    // Before every navigation: a manifest link is cancelled, so the view stays on the
    // page that holds it, and announced by manifestLinkClicked.
    void BeforeNavigate(const QUrl& target, bool& cancel);
    // What a manifest link leads to: the question, the fetch, the manifest lines, then
    // `manifestLoaded`. On No nothing changes. A server certificate that verification
    // refuses is put to the user, and the link is fetched again once it is trusted. A
    // failed fetch raises the client's error and changes nothing. A document that is not a manifest is refused with the
    // message Check and fill gives and changes nothing either, so the downloads of the
    // manifest already loaded go on with its lines.
    void DownloadManifest(const QString& url);

signals:
    // Emitted from inside the web engine's navigation decision; the owner answers it
    // later (queued) with DownloadManifest, where dialogs and waiting are safe.
    void manifestLinkClicked(const QString& url);

private:
    QStringList fetch(const QString& url);

    Controls m_controls;
    std::function<void()> m_manifestLoaded;
    NavigationPage* m_page = nullptr;
};
