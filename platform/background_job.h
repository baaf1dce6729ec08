#pragma once

#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// Long jobs on threads of their own, so that the window's thread only draws and answers. A job
// reports through signals of an object living on the window's thread (Qt queues them there)
// and looks at its stop flag between steps. Starting a job asks the one going on to stop and
// lets it end by itself, so that the window never waits for a step that cannot be cut short
// (its reports are the owner's to drop). A job's last report (its end) is sent once the job
// counts as ended, so that the owner may start the next job from it. Destroying the holder stops
// every job and waits for them all: no job outlives its owner.
class BackgroundJob {
public:
    using Job = std::function<void(const std::atomic<bool>& stopRequested)>;

    BackgroundJob() = default;
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;
    ~BackgroundJob();

    // Starts job on a new thread; a job still going on is asked to stop first. lastReport runs on
    // the same thread after job, when running() has turned false.
    void Start(Job job, Job lastReport = {});
    // Asks the job going on to stop.
    void RequestStop();
    // Waits until every job started has returned.
    void Wait();
    // Whether the job started last still runs.
    bool running() const;

private:
    struct Run {
        std::unique_ptr<QThread> thread;
        std::shared_ptr<std::atomic<bool>> stopRequested = std::make_shared<std::atomic<bool>>(false);
        std::shared_ptr<std::atomic<bool>> running = std::make_shared<std::atomic<bool>>(true);
    };
    void ForgetEndedRuns();

    std::unique_ptr<Run> current_;
    std::vector<std::unique_ptr<Run>> stopping_; // asked to stop, perhaps still running
};
