#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

// Runs the event loop until done() or the time is up; returns done().
inline bool waitUntil(const std::function<bool()> &done, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return done();
}
