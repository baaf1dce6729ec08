#pragma once

#include "platform/unique_fd.h"

#include <string>

// Notices mounts and unmounts: the mount table file wakes poll() with POLLPRI on every
// change. The window wraps fd() in a QSocketNotifier of type Exception and calls
// Acknowledge() from its handler.
class MountWatcher {
public:
    explicit MountWatcher(const std::string& mountInfoPath = "/proc/self/mountinfo");

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    // Re-reads the table so that the next change wakes poll() again.
    void Acknowledge();
    // Waits up to timeoutMs for a change; true when one came (for tests and tools).
    bool WaitForChange(int timeoutMs);

private:
    UniqueFd fd_;
};
