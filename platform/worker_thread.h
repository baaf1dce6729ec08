#pragma once

#include <QString>
#include <QThread>
#include <functional>
#include <memory>

// A thread of its own that runs the calls posted to it one after another, in the order they
// were posted: what a database connection or another object that belongs to one thread is
// used from. Ending it runs a last call after every call posted before, then ends the thread
// and waits for it; destroying it ends it.
class WorkerThread {
public:
    explicit WorkerThread(const QString& name);
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread();

    // Queues call to run on the thread; nothing once the thread has ended.
    void Post(std::function<void()> call);
    // Runs last on the thread once the calls posted before it have run (its owner's objects that
    // belong to the thread are destroyed there), then ends the thread and waits for it. Once.
    void End(std::function<void()> last = {});

private:
    QThread thread_;
    std::unique_ptr<QObject> context_; // lives on thread_: the calls are queued calls on it
    bool ended_ = false;
};
