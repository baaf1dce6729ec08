#include "platform/background_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Waits up to a few seconds for condition; false when it never held.
template <typename Condition>
bool WaitUntil(Condition condition)
{
    for (auto until = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(1ms))
        if (condition())
            return true;
    return false;
}

// Copying a long call and then a short one: the first job must stop, or its file lands last.
TEST(BackgroundJob, ANewJobStopsTheOneGoingOnAndOnlyTheNewOneReportsItsEnd)
{
    BackgroundJob job;
    std::atomic<bool> firstStarted{false};
    std::atomic<int> ends{0};
    std::atomic<int> lastEnded{0};
    const auto reportEnd = [&](int which) {
        return [&, which](const std::atomic<bool>& stopRequested) {
            if (!stopRequested.load()) {
                ++ends;
                lastEnded = which;
            }
        };
    };
    job.Start(
        [&](const std::atomic<bool>& stopRequested) {
            firstStarted = true;
            WaitUntil([&] { return stopRequested.load(); });
        },
        reportEnd(1));
    ASSERT_TRUE(WaitUntil([&] { return firstStarted.load(); })) << "the first job never started";
    job.Start([](const std::atomic<bool>&) {}, reportEnd(2));
    job.Wait();
    EXPECT_EQ(ends.load(), 1);
    EXPECT_EQ(lastEnded.load(), 2);
    EXPECT_FALSE(job.running());
}

} // namespace
