#include "platform/worker_thread.h"

#include <utility>

WorkerThread::WorkerThread(const QString& name) : context_(std::make_unique<QObject>())
{
    thread_.setObjectName(name);
    context_->moveToThread(&thread_);
    thread_.start();
}

WorkerThread::~WorkerThread()
{
    End();
}

void WorkerThread::Post(std::function<void()> call)
{
    if (!ended_)
        QMetaObject::invokeMethod(context_.get(), std::move(call), Qt::QueuedConnection);
}

void WorkerThread::End(std::function<void()> last)
{
    if (std::exchange(ended_, true))
        return;
    // A blocking call runs after every queued one: the thread is idle when it returns.
    QMetaObject::invokeMethod(
        context_.get(),
        [&last] {
            if (last)
                last();
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}
