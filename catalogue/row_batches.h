#pragma once

#include <chrono>
#include <utility>
#include <vector>

// Collects the rows a worker finds and hands them on in batches: a queued signal and a
// repaint per row would cost more than the work itself.
template <typename Row>
class RowBatches {
public:
    static constexpr std::chrono::milliseconds kInterval{100};

    // Keeps row; hands the rows kept so far to send once kInterval has passed since the last batch.
    template <typename Send>
    void Add(Row row, Send&& send)
    {
        pending_.push_back(std::move(row));
        if (Due())
            Flush(send);
    }
    // Whether kInterval has passed since the last batch (or the start).
    bool Due() const { return std::chrono::steady_clock::now() - last_ >= kInterval; }
    template <typename Send>
    void Flush(Send&& send)
    {
        last_ = std::chrono::steady_clock::now();
        if (!pending_.empty())
            send(std::exchange(pending_, {}));
    }

private:
    std::vector<Row> pending_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};
