#include "web/mp3_cache.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Mp3Cache::Mp3Cache(const QString& parentFolder, std::int64_t mostBytes, int mostEncodings,
                   std::chrono::milliseconds wait)
    : folder_(parentFolder + QStringLiteral("/sdvoice-mp3-XXXXXX")),
      mostBytes_(mostBytes),
      encoders_(std::max(mostEncodings, 1)),
      wait_(wait)
{
}

Result<UniqueFd> Mp3Cache::Find(const Mp3Key& key, int recordingFd, const CallTags& tags)
{
    std::promise<Result<Encoded>> promise;
    const Made mine = promise.get_future().share();
    Made made = mine;
    bool first = false;
    std::uint64_t serial = 0;
    {
        const std::lock_guard lock(mutex_);
        serial = ++tick_;
        const auto [entry, added] = entries_.try_emplace(key, Entry{mine, serial, 0, serial});
        entry->second.used = serial;
        made = entry->second.made;
        first = added;
    }
    if (first) {
        const Result<Encoded> encoded = Encode(recordingFd, tags);
        promise.set_value(encoded); // those asking for it meanwhile wait for this one
        Settle(key, serial, encoded);
    }
    const Result<Encoded>& encoded = made.get();
    if (!encoded)
        return encoded.error();
    UniqueFd own(::fcntl(encoded->file->get(), F_DUPFD_CLOEXEC, 0));
    if (!own.valid())
        return Failure{"cannot read the encoding", errno};
    return own;
}

Result<Mp3Cache::Encoded> Mp3Cache::Encode(int recordingFd, const CallTags& tags)
{
    if (!folder_.isValid())
        return Failure{"cannot make the folder of the encodings"};
    if (!encoders_.try_acquire_for(wait_))
        return Failure{"every encoder is busy", EBUSY};
    const int number = ++encodings_;
    Encoded encoded{folder_.filePath(QStringLiteral("%1.mp3").arg(number)).toStdString(), nullptr, 0};
    const Result<void> saved = SaveRecordingAs(recordingFd, CallFormat::Mp3, tags, encoded.path);
    encoders_.release();
    if (!saved)
        return saved.error();
    auto file = std::make_shared<UniqueFd>(::open(encoded.path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!file->valid() || ::fstat(file->get(), &status) != 0) {
        ::unlink(encoded.path.c_str());
        return Failure{"cannot read the encoding", errno};
    }
    encoded.file = std::move(file);
    encoded.bytes = std::max<std::int64_t>(status.st_size, 1);
    return encoded;
}

// Keeps the encoding (a failed one is forgotten, so the next request tries again) and drops the
// least recently asked for encodings until the kept ones fit.
void Mp3Cache::Settle(const Mp3Key& key, std::uint64_t serial, const Result<Encoded>& made)
{
    const std::lock_guard lock(mutex_);
    const auto entry = entries_.find(key);
    if (entry == entries_.end() || entry->second.serial != serial)
        return;
    if (!made) {
        entries_.erase(entry);
        return;
    }
    entry->second.bytes = made->bytes;
    keptBytes_ += made->bytes;
    while (keptBytes_ > mostBytes_) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->second.bytes > 0 && (oldest == entries_.end() || it->second.used < oldest->second.used))
                oldest = it;
        ::unlink(oldest->second.made.get()->path.c_str());
        keptBytes_ -= oldest->second.bytes;
        entries_.erase(oldest);
    }
}
