#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <chrono>

// Lets the window's events run (the reports of its workers among them) until condition holds,
// for at most limit; false when it never did, so that the test fails with its own message.
template <typename Condition>
[[nodiscard]] bool WaitForWindow(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const QDeadlineTimer deadline(limit);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}
