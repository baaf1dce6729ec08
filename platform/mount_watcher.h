#pragma once

#include <string>

// Notices mounts and unmounts: the mount table file wakes poll() with POLLPRI on every
// change. The window wraps fd() in a QSocketNotifier of type Exception and calls
// Acknowledge() from its handler.
class MountWatcher {
public:
    explicit MountWatcher(const std::string& mountInfoPath = "/proc/self/mountinfo");
    ~MountWatcher();
    MountWatcher(const MountWatcher&) = delete;
    MountWatcher& operator=(const MountWatcher&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Re-reads the table so that the next change wakes poll() again.
    void Acknowledge();
    // Waits up to timeoutMs for a change; true when one came (for tests and tools).
    bool WaitForChange(int timeoutMs);

private:
    int fd_ = -1;
};
