#include "platform/mount_watcher.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

MountWatcher::MountWatcher(const std::string& mountInfoPath) : fd_(::open(mountInfoPath.c_str(), O_RDONLY | O_CLOEXEC))
{
}

void MountWatcher::Acknowledge()
{
    if (!fd_.valid())
        return;
    // A poll that reports a change also takes it in; reading the table to its end as
    // well keeps the file in step on kernels that only take it in on reading.
    pollfd entry{fd_.get(), POLLPRI, 0};
    while (::poll(&entry, 1, 0) < 0 && errno == EINTR) {
    }
    ::lseek(fd_.get(), 0, SEEK_SET);
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
        if (got > 0 || (got < 0 && errno == EINTR))
            continue;
        break;
    }
    ::lseek(fd_.get(), 0, SEEK_SET);
}

bool MountWatcher::WaitForChange(int timeoutMs)
{
    if (!fd_.valid())
        return false;
    pollfd entry{fd_.get(), POLLPRI, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (entry.revents & (POLLPRI | POLLERR)) != 0;
}
