#include "support/private_mounts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/wait.h>

std::string EnterPrivateMountNamespace()
{
    if (::unshare(CLONE_NEWNS) != 0)
        return std::string("unshare(CLONE_NEWNS) failed: ") + std::strerror(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("cannot make the mounts private: ") + std::strerror(errno);
    return {};
}

bool RunShell(const std::string& command, std::string* output)
{
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return false;
    std::string text;
    char buffer[512];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        text.append(buffer, got);
    const int status = ::pclose(pipe);
    if (output)
        *output = text;
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool KernelHasFileSystem(const std::string& type)
{
    std::ifstream in("/proc/filesystems");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string field;
        std::string last;
        while (fields >> field)
            last = field;
        if (last == type)
            return true;
    }
    return false;
}
