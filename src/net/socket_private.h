#pragma once

#include "net/async_socket.h"

#include <QPointer>

// Shared by the source files of TAsyncSocket only.

template <typename F, typename... A>
bool TAsyncSocket::fire(const F& handler, A&&... args) {
    if (!handler)
        return true;
    QPointer<TAsyncSocket> alive(this);
    // A copy, because handlers may replace themselves (the HTTP client points
    // OnSessionClosed elsewhere from inside it) while they run.
    F copy = handler;
    copy(this, std::forward<A>(args)...);
    return !alive.isNull();
}
