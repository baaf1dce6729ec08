#include "platform/background_job.h"

BackgroundJob::~BackgroundJob()
{
    RequestStop();
    Wait();
}

void BackgroundJob::Start(Job job)
{
    RequestStop();
    Wait();
    stopRequested_ = false;
    running_ = true;
    thread_.reset(QThread::create([this, job = std::move(job)] {
        job(stopRequested_);
        running_ = false;
    }));
    thread_->start();
}

void BackgroundJob::Wait()
{
    if (thread_)
        thread_->wait();
    thread_.reset();
}
