#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

// Ctrl-C (SIGINT) and SIGTERM as an event of the event loop: the signal handler only
// writes a byte into a pipe whose read end the loop watches, so the reaction (aborting
// the downloads, saying what was left) runs as ordinary code between two events. A
// second signal ends the program at once, the way Ctrl-C usually does.
class InterruptPipe {
public:
    explicit InterruptPipe(std::function<void()> onInterrupt);
    // Gives the signals their default meaning back.
    ~InterruptPipe();
    InterruptPipe(const InterruptPipe&) = delete;
    InterruptPipe& operator=(const InterruptPipe&) = delete;

    bool interrupted() const { return m_interrupted; }

private:
    std::function<void()> m_onInterrupt;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_interrupted = false;
};
