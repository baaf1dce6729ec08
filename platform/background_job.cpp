#include "platform/background_job.h"

#include <algorithm>

BackgroundJob::~BackgroundJob()
{
    RequestStop();
    Wait();
}

void BackgroundJob::Start(Job job, Job lastReport)
{
    RequestStop();
    if (current_)
        stopping_.push_back(std::move(current_));
    ForgetEndedRuns();
    current_ = std::make_unique<Run>();
    current_->thread.reset(QThread::create([job = std::move(job), lastReport = std::move(lastReport),
                                            stop = current_->stopRequested, running = current_->running] {
        job(*stop);
        *running = false;
        if (lastReport)
            lastReport(*stop);
    }));
    current_->thread->start();
}

void BackgroundJob::RequestStop()
{
    if (current_)
        *current_->stopRequested = true;
}

void BackgroundJob::Wait()
{
    if (current_)
        current_->thread->wait();
    for (const std::unique_ptr<Run>& run : stopping_)
        run->thread->wait();
    stopping_.clear();
}

bool BackgroundJob::running() const
{
    return current_ && current_->running->load();
}

void BackgroundJob::ForgetEndedRuns()
{
    std::erase_if(stopping_, [](const std::unique_ptr<Run>& run) { return run->thread->isFinished(); });
}
