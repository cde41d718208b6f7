#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// SIGTERM (a logout, a service manager), SIGHUP (the terminal closed) and
// SIGINT (Ctrl+C in it) end the program the way Quit does: the window keeps its
// size, files being written are finished, the cleanup scan keeps what it has
// measured. A second such signal ends the process at once. A signal the
// program was started with ignored (nohup) stays ignored.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    // onSignal runs from this thread's event loop, once, at the first signal.
    // One object at a time: it takes the process's handlers.
    explicit TerminationSignals(std::function<void()> onSignal, QObject *parent = nullptr);
    // Gives the handlers back as they were.
    ~TerminationSignals() override;

private:
    std::function<void()> onSignal;
    std::unique_ptr<QSocketNotifier> notifier;
};
