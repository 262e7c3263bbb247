#pragma once

#include "net/socket_address.h"

#include <functional>
#include <vector>

class QSocketNotifier;
class QTimer;

// The addresses of one host raced for one connection (Happy Eyeballs, RFC 8305): the
// next address is tried AttemptDelayMs after the one before unless a connection has
// come by then, and at once when an attempt fails; the first attempt to connect wins
// and every other one is closed without a word. The socket's own handle makes the first
// attempt; the race holds the others. Its user hears one outcome only: won(handle) when
// one of the race's own attempts connected, or lost(error) with the last error once
// every address has failed. Both come last in a call of the race, which the handler may
// destroy.
class ConnectRace {
public:
    static constexpr int AttemptDelayMs = 250;
    // Opens a non-blocking handle for the address and starts its connect: the handle, or
    // -1 with the Winsock error in error.
    using Opener = std::function<int(const TSocketAddress& to, int& error)>;
    using Won = std::function<void(int handle, TSocketAddress to)>;
    using Lost = std::function<void(int error)>;

    // waiting: the addresses after the first, in the order to try them. firstError: 0
    // while the socket's own attempt is under way, else how it already failed.
    ConnectRace(std::vector<TSocketAddress> waiting, int firstError, Opener open, Won won, Lost lost);
    ~ConnectRace();
    ConnectRace(const ConnectRace&) = delete;
    ConnectRace& operator=(const ConnectRace&) = delete;

    // The socket's own attempt failed later, with this error.
    void firstFailed(int error);

private:
    struct Attempt {
        int handle;
        TSocketAddress to;
        QSocketNotifier* notifier;
    };
    // Starts the next address (and the one after it, while they fail at once); false when
    // the race is lost and its user told.
    bool startNext();
    void attemptReady(int handle);
    void failed(int error);

    std::vector<TSocketAddress> m_waiting;
    size_t m_next = 0;
    std::vector<Attempt> m_attempts;
    QTimer* m_timer;
    bool m_firstPending;
    int m_lastError;
    Opener m_open;
    Won m_won;
    Lost m_lost;
};
