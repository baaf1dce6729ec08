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

TEST_F(PlayerTest, NextPreviousAndRemovedRowsFollowTheListsRules)
{
    std::vector<std::string> rows = {recording, folder.Write("VOC00002.WAV", TempFolder::Read(recording)),
                                     folder.Write("VOC00003.WAV", TempFolder::Read(recording))};
    std::optional<int> selected;
    player.setPlayList({[&] { return selected; }, [&](int row) { return rows[row]; },
                        [&] { return static_cast<int>(rows.size()); }, [&](int row) { selected = row; }});
    // The owner plays the selected row when the ended player asks for it, as "播放" does.
    QObject::connect(&player, &Player::restartRequested, [this] { player.playSelected(); });
    std::vector<std::string> starts;
    QObject::connect(&player, &Player::currentChanged, [&](const QString& path, bool hasPrevious, bool hasNext) {
        starts.push_back(path.toStdString() + (hasPrevious ? " previous" : "") + (hasNext ? " next" : ""));
    });
    const auto playsRow = [&](std::size_t number, const std::string& neighbours) {
        return Settle([&] { return starts.size() == number && player.state() == Player::State::Playing; })
               && starts.back() == rows[*selected] + neighbours;
    };

    EXPECT_EQ(player.playSelected(), Player::Answer::NothingSelected);
    EXPECT_EQ(player.next(), Player::Answer::NothingSelected);
    EXPECT_EQ(player.previous(), Player::Answer::NothingSelected);
    EXPECT_EQ(player.pauseOrResume(), Player::Answer::NothingPlaying);
    EXPECT_EQ(player.toggleMute(), Player::Answer::NothingPlaying);
    EXPECT_EQ(player.stopPlayback(), Player::Answer::NothingPlaying);

    selected = 0;
    EXPECT_EQ(player.playSelected(), Player::Answer::Done);
    ASSERT_TRUE(playsRow(1, " next"));
    EXPECT_EQ(player.previous(), Player::Answer::Done);
    EXPECT_EQ(selected, 0) << "nothing before the first row";
    EXPECT_EQ(player.state(), Player::State::Playing);
    EXPECT_EQ(player.next(), Player::Answer::Done);
    EXPECT_EQ(selected, 1);
    ASSERT_TRUE(playsRow(2, " previous next"));
    EXPECT_EQ(player.next(), Player::Answer::Done);
    ASSERT_TRUE(playsRow(3, " previous"));
    EXPECT_EQ(player.next(), Player::Answer::Done);
    EXPECT_EQ(selected, 2) << "nothing after the last row";
    EXPECT_EQ(player.state(), Player::State::Playing);

    // The row that plays is removed: it plays on, and the list's rules follow the rows left.
    rows.pop_back();
    selected = 1;
    EXPECT_EQ(player.state(), Player::State::Playing);
    EXPECT_EQ(player.next(), Player::Answer::Done);
    EXPECT_EQ(player.state(), Player::State::Playing) << "the row selected now is the last";
    EXPECT_EQ(player.playSelected(), Player::Answer::Done);
    ASSERT_TRUE(playsRow(4, " previous"));
    rows.clear();
    selected.reset();
    EXPECT_EQ(player.next(), Player::Answer::NothingSelected);
    EXPECT_EQ(player.state(), Player::State::Playing);
    player.shutDown();
}
