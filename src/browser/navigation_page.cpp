#include "browser/navigation_page.h"

bool NavigationPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool) {
    bool cancel = false;
    if (OnBeforeNavigate)
        OnBeforeNavigate(url, cancel);
    return !cancel;
}
