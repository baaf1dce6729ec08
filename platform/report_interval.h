#pragma once

#include <chrono>

// How often a worker reports to its window: rows go out in batches and a busy panel's text
// changes about ten times a second, since a queued signal and a repaint for every file would
// cost more than the work itself, and nobody reads names that fast.
class ReportInterval {
public:
    static constexpr std::chrono::milliseconds kInterval{100};

    // Whether kInterval has passed since the last report (or ever since this was made: the
    // first one is due at once).
    bool Due() const { return !reported_ || std::chrono::steady_clock::now() - last_ >= kInterval; }
    void Reported()
    {
        reported_ = true;
        last_ = std::chrono::steady_clock::now();
    }

private:
    bool reported_ = false;
    std::chrono::steady_clock::time_point last_;
};
