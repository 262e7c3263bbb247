#pragma once

#include <QWebEnginePage>

#include <functional>

// A web page that asks before every navigation, in any frame: OnBeforeNavigate gets the
// target and may cancel it, and the browser then stays where it is.
class NavigationPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

    std::function<void(const QUrl& target, bool& cancel)> OnBeforeNavigate;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
};
