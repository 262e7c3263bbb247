#include "net/notification_target.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

int notificationEventType() {
    static const int type = QEvent::registerEventType();
    return type;
}

class NotificationEvent : public QEvent {
public:
    NotificationEvent(int msg, qintptr wParam, qintptr lParam)
        : QEvent(QEvent::Type(notificationEventType())), m_msg(msg), m_wParam(wParam), m_lParam(lParam) {}
    int m_msg;
    qintptr m_wParam;
    qintptr m_lParam;
};

} // namespace

NotificationTarget::NotificationTarget(Handler handler) : m_handler(std::move(handler)) {}

void NotificationTarget::post(int msg, qintptr wParam, qintptr lParam) {
    if (m_released)
        return;
    QCoreApplication::postEvent(this, new NotificationEvent(msg, wParam, lParam));
}

void NotificationTarget::release() {
    m_released = true;
    m_handler = nullptr;
    // Inside its own dispatch the target is still on the call stack: free it later.
    if (isDispatching())
        deleteLater();
    else
        delete this;
}

bool NotificationTarget::event(QEvent* e) {
    if (e->type() != notificationEventType())
        return QObject::event(e);
    if (m_released || !m_handler)
        return true;
    auto* n = static_cast<NotificationEvent*>(e);
    // A copy: the handler may release this target (and so clear m_handler) while it runs.
    Handler handler = m_handler;
    ++m_dispatchDepth;
    struct DepthGuard {
        int& depth;
        ~DepthGuard() { --depth; }
    } guard{m_dispatchDepth};
    handler(n->m_msg, n->m_wParam, n->m_lParam);
    return true;
}
