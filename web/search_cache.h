#pragma once

#include "platform/result.h"
#include "search/archive_search.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

// A search's rows with their notes, and the order of the rows asked for.
struct SortedSearch {
    SearchResult result;
    std::vector<int> order;
};
using SharedSearch = std::shared_ptr<const SortedSearch>;

// The searches asked for in the last minute: the pages of one search and its statistics come from
// one walk of the folders, and a search many ask for at once is made once. A search older than ten
// seconds is made again by the next request that asks for it, while the others asking meanwhile get
// the older one: only that request waits for the walk, however long a busy machine makes it. A note
// change clears the searches; a search that failed is not kept.
class SearchCache {
public:
    Result<SharedSearch> Find(const QString& key, const std::function<Result<SharedSearch>()>& make);
    void Clear();

private:
    using Clock = std::chrono::steady_clock;
    using Made = std::shared_future<Result<SharedSearch>>;
    static constexpr std::chrono::seconds kFresh{10};
    static constexpr std::chrono::seconds kKept{60};
    static constexpr std::size_t kMostSearches = 4; // each may hold 100,000 rows
    struct Entry {
        Made search;
        Clock::time_point made;
        Clock::time_point used;
        bool refreshing = false;  // kept while it is made again, however long that takes
        std::uint64_t serial = 0; // tells the entry from a later one of the same key
    };
    // The entry of key, made when there is none: whether this request makes it, and whether it
    // makes it again.
    struct Found {
        Made search;
        bool first = false;
        bool refresh = false;
        std::uint64_t generation = 0;
        std::uint64_t serial = 0;
    };
    Found Take(const QString& key, Made made);
    void Forget(const QString& key, std::uint64_t serial);

    std::mutex mutex_;
    std::map<QString, Entry> searches_;
    std::uint64_t generation_ = 0; // counts the Clear calls
    std::uint64_t serials_ = 0;
};
