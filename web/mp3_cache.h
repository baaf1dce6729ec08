#pragma once

#include "audio/call_file.h"
#include "platform/result.h"
#include "platform/unique_fd.h"

#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <compare>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>

// Which encoding of a call: the recording's file (folder, name, size and modification time, so
// that a changed file is encoded again) and the note its tags carry.
struct Mp3Key {
    std::string folder;
    std::string name;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::string description;
    auto operator<=>(const Mp3Key&) const = default;
};

// The MP3 encodings of calls, each made once and kept in a private folder (0700, removed with the
// cache) up to a total size, the least recently asked for dropped first. At most mostEncodings
// run at once; a request for a call being encoded waits for that encoding.
class Mp3Cache {
public:
    Mp3Cache(const QString& parentFolder, std::int64_t mostBytes, int mostEncodings,
             std::chrono::milliseconds wait = std::chrono::seconds(10));

    // The call's MP3, opened for reading: the kept one, or encoded now from recordingFd with tags.
    // Fails with EBUSY when no encoding could start within the wait, otherwise with the reason
    // the encoding failed; nothing is kept then.
    Result<UniqueFd> Find(const Mp3Key& key, int recordingFd, const CallTags& tags);
    // How many encodings were started: each call once while it stays kept.
    int Encodings() const { return encodings_.load(); }

private:
    struct Encoded {
        std::string path;
        std::shared_ptr<const UniqueFd> file; // kept open: a dropped file stays readable for those serving it
        std::int64_t bytes = 0;
    };
    using Made = std::shared_future<Result<Encoded>>;
    struct Entry {
        Made made;
        std::uint64_t used = 0;   // the cache's tick at its last request
        std::int64_t bytes = 0;   // 0 while it is encoded
        std::uint64_t serial = 0; // the tick it was made at: tells it from a later one of the same key
    };
    Result<Encoded> Encode(int recordingFd, const CallTags& tags);
    void Settle(const Mp3Key& key, std::uint64_t serial, const Result<Encoded>& made);

    QTemporaryDir folder_;
    const std::int64_t mostBytes_;
    std::counting_semaphore<> encoders_;
    const std::chrono::milliseconds wait_;
    std::atomic<int> encodings_ = 0;
    std::mutex mutex_;
    std::map<Mp3Key, Entry> entries_;
    std::uint64_t tick_ = 0;
    std::int64_t keptBytes_ = 0;
};
