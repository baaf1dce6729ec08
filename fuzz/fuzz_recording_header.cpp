// Feeds arbitrary bytes to the recording header reader: as the 23 record bytes, and as a
// whole file read through its path, with the row texts built from it.
#include "catalogue/recording.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size >= kHeaderSize) {
        unsigned char record[kHeaderSize];
        std::memcpy(record, data, kHeaderSize);
        const RecordingHeader header = ParseRecordingHeader(record);
        (void)PhoneText(header);
        (void)ModeName(header.mode);
        (void)StartTimeText(header);
        std::uint32_t fileSize = 0;
        std::memcpy(&fileSize, data + 1, sizeof fileSize);
        (void)DurationText(fileSize);
        (void)SizeText(fileSize);
    }
    const int fd = ::memfd_create("recording", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (::write(fd, data, size) == static_cast<ssize_t>(size)) {
        const std::string name = std::to_string(fd);
        (void)ReadRecordingHeader("/proc/self/fd/" + name);
        (void)MakeRecordingEntry("/proc/self/fd/", name, 1);
    }
    ::close(fd);
    return 0;
}
