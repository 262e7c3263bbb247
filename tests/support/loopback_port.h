#pragma once

#include <QtGlobal>

class QByteArray;
class QProcess;

// A loopback port the system hands out now; a server started a moment later binds it
// (a start that loses the race is retried on another port). 0 when none was given.
quint16 FreeLoopbackPort();

// A listening socket on the IPv4 address (host order) and port (0: the system picks
// one), for the scripted servers' threads; -1 when that fails. The port actually bound
// goes to *bound.
int ListenOn(quint32 address, quint16 port, quint16* bound);
// The same on a numeric address of either family ("::1"), with the backlog; -1: bound
// but not listening, so that a connect to it is refused.
int ListenOn(const char* address, quint16 port, quint16* bound, int backlog = 64);

// Sends every byte on the blocking socket fd, going on after a send cut short; false when
// the peer has gone.
bool SendAll(int fd, const QByteArray& bytes);

// Waits until fd is readable (timeoutMs -1: without a limit); false when stopFd becomes
// readable first (the server is ending) or the time runs out.
bool WaitReadableUnlessStopped(int fd, int stopFd, int timeoutMs);

// True when something accepts connections on address:port (IPv4 or IPv6).
bool LoopbackPortAnswers(quint16 port, const char* address = "127.0.0.1");

// Waits on the event loop (bounded) until a server just started as process answers on
// address:port; false when it ends or the time runs out.
bool WaitUntilServerAnswers(const QProcess& process, quint16 port, int timeoutMs = 10000,
                            const char* address = "127.0.0.1");
