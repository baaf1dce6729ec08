#include "web/search_cache.h"

#include <algorithm>

SearchCache::Found SearchCache::Take(const QString& key, Made made)
{
    const std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    std::erase_if(searches_,
                  [&](const auto& entry) { return now - entry.second.used > kKept && !entry.second.refreshing; });
    const auto found = searches_.find(key);
    if (found == searches_.end()) {
        if (searches_.size() >= kMostSearches)
            searches_.erase(std::min_element(searches_.begin(), searches_.end(), [](const auto& a, const auto& b) {
                return a.second.used < b.second.used;
            }));
        const std::uint64_t serial = ++serials_;
        searches_.emplace(key, Entry{made, now, now, false, serial});
        return {std::move(made), true, false, generation_, serial};
    }
    found->second.used = now;
    const bool refresh = now - found->second.made > kFresh && !found->second.refreshing;
    found->second.refreshing = found->second.refreshing || refresh;
    return {found->second.search, false, refresh, generation_, found->second.serial};
}

void SearchCache::Forget(const QString& key, std::uint64_t serial)
{
    const std::lock_guard lock(mutex_);
    if (const auto found = searches_.find(key); found != searches_.end() && found->second.serial == serial)
        searches_.erase(found);
}

Result<SharedSearch> SearchCache::Find(const QString& key, const std::function<Result<SharedSearch>()>& make)
{
    std::promise<Result<SharedSearch>> promise;
    const Made mine = promise.get_future().share();
    const Found found = Take(key, mine);
    if (found.first) {
        Result<SharedSearch> made = make();
        promise.set_value(made); // the others asking for it meanwhile wait for this one
        if (!made)
            Forget(key, found.serial);
        return made;
    }
    if (!found.refresh)
        return found.search.get();
    Result<SharedSearch> made = make();
    const std::lock_guard lock(mutex_);
    if (const auto entry = searches_.find(key); entry != searches_.end() && found.generation == generation_) {
        if (made) {
            promise.set_value(made);
            entry->second = Entry{mine, Clock::now(), entry->second.used, false, ++serials_};
        } else {
            entry->second.refreshing = false; // the older search stays until a later request makes it
        }
    }
    return made;
}

void SearchCache::Clear()
{
    const std::lock_guard lock(mutex_);
    searches_.clear();
    ++generation_;
}
