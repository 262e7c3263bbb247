#pragma once

#include <QtGlobal>

// A loopback port the system hands out now; a server started a moment later binds it
// (a start that loses the race is retried on another port). 0 when none was given.
quint16 FreeLoopbackPort();

// True when something accepts connections on 127.0.0.1:port.
bool LoopbackPortAnswers(quint16 port);
