// The player's answers to what a user does while a recording is being started.
#include "audio/adpcm_converter.h"
#include "audio/player.h"
#include "audio/wave_player.h"
#include "support/audio_files.h"
#include "support/temp_folder.h"
#include "support/wave_out_virtual.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

QCoreApplication& Application()
{
    static int argc = 1;
    static char name[] = "audio_test_player";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    return application;
}

class PlayerTest : public ::testing::Test {
protected:
    PlayerTest()
    {
        Application();
        QObject::connect(&player, &Player::ended, [this] { ++ended; });
        std::string audio(300 * 256, '\0');
        for (std::size_t i = 0; i < audio.size(); ++i)
            audio[i] = static_cast<char>((i * 13 + i / 256) & 0xFF);
        recording = folder.Write("VOC00001.WAV", MakeWaveFile(ImaFileSpec{}, audio));
    }
    // Hands the player what its output reported until condition holds.
    template <typename Condition>
    bool Settle(Condition condition)
    {
        return WaitUntil([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    }
    bool Started()
    {
        return Settle([this] { return player.state() != Player::State::Starting; });
    }

    TempFolder folder;
    VirtualClock clock;
    Player player{clock.DeviceFactory()};
    std::string recording;
    int ended = 0;
};

} // namespace

TEST_F(PlayerTest, PauseMuteAndSeekPressedWhileStartingActOnceTheSoundRuns)
{
    SetWaveOutVolume(0x12345678);
    player.setVolume(3);
    player.play(recording);
    ASSERT_EQ(player.state(), Player::State::Starting);
    player.pauseOrResume();
    player.setMuted(true);
    ASSERT_TRUE(Started());
    EXPECT_EQ(player.state(), Player::State::Paused);
    EXPECT_EQ(clock.CountEvents("pause"), 1u);
    EXPECT_EQ(GetWaveOutVolume(), 0u) << "the start stays silent";
    player.setMuted(false);
    EXPECT_EQ(GetWaveOutVolume(), VolumeWord(3)) << "unmuting gives the start's volume";
    player.pauseOrResume();
    EXPECT_EQ(player.state(), Player::State::Playing);
    player.stop();
    ASSERT_TRUE(Settle([this] { return ended == 1; }));

    // A seek while starting stops the sound once it runs; the next start begins where it chose.
    player.play(recording);
    player.seek(50);
    ASSERT_TRUE(Started());
    EXPECT_EQ(player.state(), Player::State::Stopped);
    ASSERT_TRUE(Settle([this] { return ended == 2; }));
    const std::size_t writtenBefore = clock.WrittenBytes().size();
    const std::size_t writesBefore = clock.CountEvents("write");
    player.play(recording);
    ASSERT_TRUE(Started());
    ASSERT_TRUE(clock.WaitForEvents("write", writesBefore + 8));
    const Result<LoadedWave> whole = DecodeToPcmWave(recording);
    ASSERT_TRUE(whole);
    const std::string data(whole->data.begin(), whole->data.end());
    const std::uint32_t start = WaveStartOffset(static_cast<std::uint32_t>(data.size()), 50);
    EXPECT_TRUE(clock.WrittenBytes().substr(writtenBefore, 8000) == data.substr(start, 8000));
    player.shutDown();
}
