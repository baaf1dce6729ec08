#pragma once

#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

// One long job at a time on a thread of its own, so that the window's thread only draws and
// answers. The job reports through signals of an object living on the window's thread (Qt
// queues them there) and looks at the stop flag between steps. Destroying the holder asks the
// job to stop and waits for it: no job outlives its owner.
class BackgroundJob {
public:
    using Job = std::function<void(const std::atomic<bool>& stopRequested)>;

    BackgroundJob() = default;
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;
    ~BackgroundJob();

    // Starts job on a new thread. A job still running is asked to stop and waited for first.
    void Start(Job job);
    void RequestStop() { stopRequested_ = true; }
    // Waits until the job has returned; at once when none runs.
    void Wait();
    bool running() const { return running_.load(); }

private:
    std::unique_ptr<QThread> thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
};
