#include "support/temp_folder.h"
#include "tools/sample_maker.h"
#include "web/mp3_cache.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <latch>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

constexpr int kClients = 10;

QByteArray ReadAll(const UniqueFd& file)
{
    QByteArray bytes;
    char buffer[65536];
    for (ssize_t count; (count = ::pread(file.get(), buffer, sizeof buffer, bytes.size())) > 0;)
        bytes.append(buffer, count);
    return bytes;
}

class Mp3CacheTest : public ::testing::Test {
protected:
    Mp3CacheTest()
    {
        EXPECT_TRUE(WriteSampleFolder(temp_.Path("archive"), 1, 3500 * 6));
        recording_ = UniqueFd(::open(temp_.Path("archive/VOC00001.WAV").c_str(), O_RDONLY | O_CLOEXEC));
    }

    Mp3Key KeyOf(const std::string& description) const
    {
        return {temp_.Path("archive/"), "VOC00001.WAV", 3500 * 6, 7, description};
    }

    TempFolder temp_;
    UniqueFd recording_;
};

TEST_F(Mp3CacheTest, ClientsAskingAtOnceShareOneEncoding)
{
    Mp3Cache cache(QString::fromStdString(temp_.path()), std::int64_t(1) << 30, 2);
    std::latch start(kClients);
    std::vector<QByteArray> bodies(kClients);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] {
            start.arrive_and_wait();
            const Result<UniqueFd> mp3 = cache.Find(KeyOf({}), recording_.get(), {});
            if (mp3)
                bodies[std::size_t(i)] = ReadAll(*mp3);
        });
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(cache.Encodings(), 1);
    EXPECT_GT(bodies.front().size(), 1000);
    for (const QByteArray& body : bodies)
        EXPECT_EQ(body, bodies.front());
    // Kept: asked again later, it is not encoded again; a changed file or note is.
    ASSERT_TRUE(cache.Find(KeyOf({}), recording_.get(), {}));
    EXPECT_EQ(cache.Encodings(), 1);
    Mp3Key changed = KeyOf({});
    changed.modified += 1;
    ASSERT_TRUE(cache.Find(changed, recording_.get(), {}));
    ASSERT_TRUE(cache.Find(KeyOf("退款"), recording_.get(), {}));
    EXPECT_EQ(cache.Encodings(), 3);
}

TEST_F(Mp3CacheTest, TheLeastRecentlyAskedGoBeyondItsSize)
{
    Mp3Cache probe(QString::fromStdString(temp_.path()), std::int64_t(1) << 30, 1);
    const Result<UniqueFd> one = probe.Find(KeyOf("a"), recording_.get(), {});
    ASSERT_TRUE(one);
    struct stat status {};
    ASSERT_EQ(::fstat(one->get(), &status), 0);

    Mp3Cache cache(QString::fromStdString(temp_.path()), status.st_size * 5 / 2, 1);
    std::optional<UniqueFd> dropped;
    for (const char* description : {"a", "b", "a", "c"}) { // room for two: "b" goes
        Result<UniqueFd> mp3 = cache.Find(KeyOf(description), recording_.get(), {});
        ASSERT_TRUE(mp3);
        if (description == std::string("b"))
            dropped = std::move(*mp3);
    }
    EXPECT_EQ(cache.Encodings(), 3);
    ASSERT_TRUE(cache.Find(KeyOf("a"), recording_.get(), {}));
    EXPECT_EQ(cache.Encodings(), 3);
    ASSERT_TRUE(cache.Find(KeyOf("b"), recording_.get(), {}));
    EXPECT_EQ(cache.Encodings(), 4);
    // A dropped encoding still reads whole for whoever is serving it.
    EXPECT_EQ(ReadAll(*dropped), ReadAll(*one));
}

} // namespace
