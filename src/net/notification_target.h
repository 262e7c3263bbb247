#pragma once

#include <QObject>
#include <QtGlobal>

#include <functional>

// The hidden window of a network component: a small QObject to which the component
// posts numbered notifications. The event loop delivers them later, in posting order,
// on the thread that created the target.
//
// Network components may be destroyed from inside their own event handlers (the HTTP
// completion handler frees its client). So a component never deletes its target: it
// calls release(), which detaches the handler at once and frees the target with
// deleteLater when it is dispatching (immediately otherwise). Notifications still
// queued for a released target are dropped.
class NotificationTarget : public QObject {
public:
    // The window-message offsets start here, as the first private message number.
    static constexpr int FirstNotification = 0x0400;

    using Handler = std::function<void(int msg, qintptr wParam, qintptr lParam)>;

    explicit NotificationTarget(Handler handler);

    // Queues one notification; it reaches the handler from the event loop, never
    // from inside this call.
    void post(int msg, qintptr wParam = 0, qintptr lParam = 0);

    // Detaches the handler and frees the target (deferred while it is dispatching).
    // The caller must not use the pointer afterwards.
    void release();

    bool isDispatching() const { return m_dispatchDepth > 0; }

protected:
    bool event(QEvent* e) override;

private:
    ~NotificationTarget() override = default;

    Handler m_handler;
    int m_dispatchDepth = 0;
    bool m_released = false;
};
