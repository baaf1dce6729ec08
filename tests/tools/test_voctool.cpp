#include "audio/adpcm_converter.h"
#include "catalogue/upload.h"
#include "platform/folder_sums.h"
#include "platform/recording_walk.h"
#include "support/audio_files.h"
#include "support/call_reader.h"
#include "support/pulse_sound.h"
#include "support/temp_folder.h"
#include "tools/sample_maker.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

// voctool is built beside the tests: <build>/tools/voctool, the tests in <build>/tests/.
std::string VoctoolPath()
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / ".." / "tools" / "voctool").string();
}

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The locale variables voctool runs with; by default the C locale, whatever the tests run under.
using LocaleVariables = std::map<QString, QString>;

Outcome Voctool(const std::vector<std::string>& words, const LocaleVariables& locale = {{"LANG", "C"}})
{
    QStringList arguments;
    for (const std::string& word : words)
        arguments << QString::fromStdString(word);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
        environment.remove(variable);
    // The index and the settings of a desk of the tests' own, unless a test gives its own: a
    // search or an upload makes the index.
    static const TempFolder desk;
    if (!environment.contains(QStringLiteral("XDG_DATA_HOME")))
        environment.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(desk.Path("data")));
    if (!environment.contains(QStringLiteral("XDG_CONFIG_HOME")))
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(desk.Path("config")));
    for (const auto& [variable, value] : locale)
        environment.insert(variable, value);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QString::fromStdString(VoctoolPath()), arguments);
    Outcome outcome;
    if (!process.waitForStarted() || !process.waitForFinished(60000)) {
        ADD_FAILURE() << "voctool did not run: " << VoctoolPath() << " (build the voctool target)";
        return outcome;
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput().toStdString();
    outcome.err = process.readAllStandardError().toStdString();
    return outcome;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    return parts;
}

// The rows of voctool's output, each split into its eight texts.
std::vector<std::vector<std::string>> Rows(const Outcome& outcome)
{
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : Split(outcome.out, '\n')) {
        rows.push_back(Split(line, '\t'));
        EXPECT_EQ(rows.back().size(), 8u) << line;
    }
    return rows;
}

std::vector<std::string> Column(const std::vector<std::vector<std::string>>& rows, std::size_t column)
{
    std::vector<std::string> texts;
    for (const std::vector<std::string>& row : rows)
        texts.push_back(row.size() > column ? row[column] : "");
    return texts;
}

// The names the walk visits, in its order, that are 12 bytes long.
std::vector<std::string> WalkOrder(const std::string& dir)
{
    std::vector<std::string> names;
    WalkRecordings(dir, [&](const WalkEntry& entry) {
        if (entry.twelveBytes)
            names.push_back(entry.name);
        return true;
    });
    return names;
}

void AddRecording(const std::string& path, char mode, const std::string& phone, int day, int hour)
{
    SampleSpec sample;
    sample.mode = mode;
    sample.phone = phone;
    sample.year = 14;
    sample.month = 3;
    sample.day = day;
    sample.hour = hour;
    sample.minute = 30;
    sample.dataBytes = 3500 * 2 - 300; // with the 300-byte head: 7000 bytes, 2 s
    ASSERT_TRUE(WriteSampleFile(path, sample));
}

} // namespace

TEST(VoctoolList, PrintsEveryRowInWalkOrderWithOneSeparatorInThePath)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    ASSERT_TRUE(WriteSampleFolder(folder, 4, 3500));
    std::filesystem::resize_file(folder + "/VOC00002.WAV", 278); // no header: no row, no number
    AddRecording(folder + "/VOC000005.WAV", 'Z', "1", 5, 9);     // 13 bytes: not a recording
    AddRecording(folder + "/VOC00006.WAV", 'Z', "1", 5, 9);
    ASSERT_EQ(::chmod((folder + "/VOC00006.WAV").c_str(), 0444), 0); // read-only: passed over
    AddRecording(folder + "/voc00007.wav", 'z', "13800138000", 5, 9);

    std::vector<std::string> expectedNames = WalkOrder(folder + "/");
    std::erase(expectedNames, "VOC00002.WAV");
    ASSERT_EQ(expectedNames.size(), 4u);

    for (const std::string& given : {folder, folder + "/", folder + "//"}) {
        const Outcome outcome = Voctool({"list", given});
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        const auto rows = Rows(outcome);
        EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"1", "2", "3", "4"}));
        EXPECT_EQ(Column(rows, 1), expectedNames);
        for (const auto& row : rows)
            EXPECT_EQ(row[7], folder + "/" + row[1]);
    }

    const auto rows = Rows(Voctool({"list", folder}));
    for (const auto& row : rows) {
        if (row[1] == "voc00007.wav") {
            EXPECT_EQ(row, (std::vector<std::string>{row[0], "voc00007.wav", "13800138000", "其他",
                                                     "2014年03月05日09时30分", "2秒", "7K", folder + "/voc00007.wav"}));
        }
        if (row[1] == "VOC00001.WAV") {
            EXPECT_EQ(row[4], "2023年01月02日08时00分");
        }
    }
}

TEST(VoctoolList, KeepsOneRowPerLineWhateverThePhoneFieldHolds)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    AddRecording(folder + "/VOC00001.WAV", 'B', "12\t34\n56", 5, 9);
    AddRecording(folder + "/VOC00002.WAV", 'B', "\xB5\xE7\xBB\xB0", 5, 9);

    const Outcome outcome = Voctool({"list", folder});
    EXPECT_EQ(outcome.exitCode, 0);
    const auto rows = Rows(outcome);
    ASSERT_EQ(rows.size(), 2u);
    std::vector<std::string> phones = Column(rows, 2);
    std::sort(phones.begin(), phones.end());
    EXPECT_EQ(phones, (std::vector<std::string>{"12\\x0934\\x0A56", "电话"}));
}

TEST(VoctoolList, FailsWithAMessageForAMissingFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    ASSERT_TRUE(WriteSampleFolder(folder, 1, 3500));

    for (const std::string& missing : {folder + "/missing", folder + "/VOC00001.WAV", std::string()}) {
        const Outcome outcome = Voctool({"list", missing});
        EXPECT_NE(outcome.exitCode, 0) << missing;
        EXPECT_TRUE(outcome.out.empty()) << missing;
        EXPECT_NE(outcome.err.find("folder"), std::string::npos) << outcome.err;
    }
    EXPECT_NE(Voctool({"list"}).exitCode, 0);
    EXPECT_NE(Voctool({"list", folder, folder}).exitCode, 0);

    const Outcome one = Voctool({"list", folder + "/"});
    EXPECT_EQ(one.exitCode, 0);
    EXPECT_EQ(Rows(one).size(), 1u);
}

class VoctoolSearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.path().toStdString();
        AddRecording(folder_ + "/VOC00001.WAV", 'Z', "13800138000", 4, 23);
        AddRecording(folder_ + "/VOC00002.WAV", 'B', "02161234567", 5, 0);
        AddRecording(folder_ + "/VOC00003.WAV", 'z', "95588", 5, 12);
        AddRecording(folder_ + "/VOC00004.WAV", 'L', "13912345678", 5, 25);
        AddRecording(folder_ + "/VOC00005.WAV", 'Z', "", 6, 8);
    }

    // File names of the kept rows, after checking that they are numbered 1, 2, 3.
    std::vector<std::string> Kept(std::vector<std::string> words)
    {
        words.insert(words.begin(), {"search", folder_});
        const Outcome outcome = Voctool(words);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        const auto rows = Rows(outcome);
        for (std::size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(rows[i][0], std::to_string(i + 1));
        std::vector<std::string> names = Column(rows, 1);
        std::sort(names.begin(), names.end());
        return names;
    }

    QTemporaryDir dir_;
    std::string folder_;
};

TEST_F(VoctoolSearch, KeepsTheRowsThatPassAllFilters)
{
    using Names = std::vector<std::string>;
    EXPECT_EQ(Kept({"--from", "2014-03-05", "--to", "2014-03-05"}), (Names{"VOC00002.WAV", "VOC00003.WAV"}));
    EXPECT_EQ(Kept({"--to", "2014-03-06", "--from", "2014-03-04"}).size(), 5u);
    EXPECT_EQ(Kept({"--from", "2014-03-01", "--to", "2014-03-31", "--mode", "其他"}), (Names{"VOC00003.WAV"}));
    EXPECT_EQ(Kept({"--from", "2014-03-01", "--to", "2014-03-31", "--phone", " 0", "--mode", "主叫"}),
              (Names{"VOC00001.WAV"}));

    const auto rows = Rows(Voctool({"search", folder_ + "/", "--from", "2014-03-06", "--to", "2014-03-06"}));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "VOC00005.WAV", "", "主叫", "2014年03月06日08时30分", "2秒",
                                                 "7K", folder_ + "/VOC00005.WAV"}));
}

TEST_F(VoctoolSearch, RefusesAFirstDayAfterTheLast)
{
    for (const std::string& where : {folder_, folder_ + "/missing"}) {
        const Outcome outcome = Voctool({"search", where, "--from", "2014-03-06", "--to", "2014-03-05"});
        EXPECT_NE(outcome.exitCode, 0);
        EXPECT_TRUE(outcome.out.empty());
        EXPECT_EQ(outcome.err, "voctool: the first day (--from) lies after the last day (--to)\n");
    }
}

TEST_F(VoctoolSearch, ExplainsBadArguments)
{
    const std::vector<std::vector<std::string>> bad = {
        {"search", folder_, "--from", "2014-02-30", "--to", "2014-03-05"},
        {"search", folder_, "--from", "2014-3-5", "--to", "2014-03-05"},
        {"search", folder_, "--from", "yesterday", "--to", "2014-03-05"},
        {"search", folder_, "--from", "2014-03-05"},
        {"search", folder_, "--from", "2014-03-05", "--to"},
        {"search", folder_, "--from", "2014-03-05", "--to", "2014-03-05", "--mode", "Z"},
        {"search", folder_, "--from", "2014-03-05", "--to", "2014-03-05", "--colour", "red"},
        {"search", folder_, "--from", "2014-03-05", "--to", "2014-03-05", "--from", "2014-03-01"},
        {"search", "--from", "2014-03-05", "--to", "2014-03-05"},
        {"search", folder_, folder_, "--from", "2014-03-05", "--to", "2014-03-05"},
    };
    for (const auto& words : bad) {
        const Outcome outcome = Voctool(words);
        EXPECT_NE(outcome.exitCode, 0) << words.size();
        EXPECT_TRUE(outcome.out.empty());
        EXPECT_NE(outcome.err.find("usage"), std::string::npos) << outcome.err;
    }
    const Outcome missing = Voctool({"search", folder_ + "/missing", "--from", "2014-03-05", "--to", "2014-03-05"});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.err.find("no such folder"), std::string::npos) << missing.err;
}

// voctool play through SDL's dummy output, which takes the samples at their real rate without a
// sound card, and through an output that does not exist.
TEST(VoctoolPlay, PlaysToTheEndStopsAtCtrlCOrSigtermAndSaysWhyItCannotPlay)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    ASSERT_TRUE(WriteSampleFile(folder + "/short.wav", SampleSpecFor(0, 256 * 4)));   // a quarter of a second
    ASSERT_TRUE(WriteSampleFile(folder + "/long.wav", SampleSpecFor(0, 256 * 2000))); // two minutes
    QProcess player;
    const auto play = [&](const char* output, const std::string& recording) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SDL_AUDIODRIVER", output);
        environment.insert("XDG_CACHE_HOME", dir.path());
        player.setProcessEnvironment(environment);
        player.start(QString::fromStdString(VoctoolPath()), {"play", QString::fromStdString(folder + recording)});
        return player.waitForStarted();
    };

    ASSERT_TRUE(play("dummy", "/short.wav"));
    ASSERT_TRUE(player.waitForFinished(60000));
    EXPECT_EQ(player.exitCode(), 0) << player.readAllStandardError().toStdString();
    const std::vector<std::string> reports = Split(player.readAllStandardOutput().toStdString(), '\n');
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "100%");
    EXPECT_TRUE(std::all_of(reports.begin(), reports.end(), [](const std::string& report) {
        return std::stoi(report) <= 100;
    })) << "the last, shorter buffer counts 8000 bytes too";

    // The playback would take two minutes; Ctrl-C ends it with the shell's status for SIGINT.
    ASSERT_TRUE(play("dummy", "/long.wav"));
    ASSERT_TRUE(player.waitForReadyRead(60000)) << "no progress was printed";
    ::kill(static_cast<pid_t>(player.processId()), SIGINT);
    ASSERT_TRUE(player.waitForFinished(60000)) << "Ctrl-C did not stop the playback";
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.exitCode(), 130);

    // SIGTERM (a logout, a service manager) ends it too, once SDL has started its sound.
    ASSERT_TRUE(play("dummy", "/long.wav"));
    ASSERT_TRUE(player.waitForReadyRead(60000)) << "no progress was printed";
    ::kill(static_cast<pid_t>(player.processId()), SIGTERM);
    ASSERT_TRUE(player.waitForFinished(5000)) << "SIGTERM did not stop the playback within 5 s";
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.exitCode(), 143);

    ASSERT_TRUE(play("no-such-output", "/short.wav"));
    ASSERT_TRUE(player.waitForFinished(60000));
    EXPECT_EQ(player.exitCode(), 1);
    const std::string why = player.readAllStandardError().toStdString();
    EXPECT_TRUE(why.starts_with("voctool: cannot open the sound output: ")) << why;
    EXPECT_GT(why.size(), std::string("voctool: cannot open the sound output: \n").size()) << "no reason given";
}

// The output's extension chooses the format; a wave file without tags is the plain one the
// player reads, header and decoded samples byte for byte; the options become the tags.
TEST(VoctoolConvert, ChoosesTheFormatByExtensionAndTakesTheTitleAndComment)
{
    TempFolder folder;
    const std::string recording = folder.Path("VOC00001.WAV");
    ASSERT_TRUE(WriteSampleFile(recording, SampleSpecFor(0, 3500 * 3)));
    const Result<LoadedWave> decoded = DecodeToPcmWave(recording);
    ASSERT_TRUE(decoded.has_value());
    const auto header = WaveHeaderBytes(static_cast<std::uint32_t>(decoded->data.size()));
    const std::string plain(reinterpret_cast<const char*>(header.data()), header.size());

    EXPECT_EQ(Voctool({"convert", recording, folder.Path("plain.wav")}).exitCode, 0);
    EXPECT_EQ(TempFolder::Read(folder.Path("plain.wav")),
              plain + std::string(decoded->data.begin(), decoded->data.end()));

    const Outcome opus = Voctool({"convert", "--title", "张三的投诉", recording, folder.Path("call.OPUS"), "--comment", "第二次来电"});
    EXPECT_EQ(opus.exitCode, 0) << opus.err;
    CallReadBack call = ReadCallBack(folder.Path("call.OPUS"));
    ASSERT_EQ(call.error, "");
    EXPECT_EQ(call.sampleRate, 48000) << "an Opus stream, not a wave file under another name";
    EXPECT_EQ(call.tags["title"], "张三的投诉");
    EXPECT_EQ(call.tags["comment"], "第二次来电");
    EXPECT_EQ(call.tags["genre"], "主叫");

    EXPECT_EQ(Voctool({"convert", recording, folder.Path("x.mp3"), "--artist", "x"}).exitCode, 2);

    const Outcome ogg = Voctool({"convert", recording, folder.Path("call.ogg")});
    EXPECT_EQ(ogg.exitCode, 0) << ogg.err;
    EXPECT_EQ(ReadCallBack(folder.Path("call.ogg")).sampleRate, 48000) << "Opus in Ogg";
    for (const char* refused : {"call.xyz", "call", "call.wave"}) {
        const Outcome outcome = Voctool({"convert", recording, folder.Path(refused)});
        EXPECT_EQ(outcome.exitCode, 2) << refused;
        EXPECT_NE(outcome.err.find(".wav, .flac, .mp3, .opus or .ogg"), std::string::npos) << outcome.err;
        EXPECT_FALSE(std::filesystem::exists(folder.Path(refused))) << refused;
    }
}

// A conversion to MP3 killed at any moment leaves the old file or the whole new one, never a
// part; the next complete run removes what the killed ones left behind.
TEST(VoctoolConvert, AKilledConversionLeavesTheOldOrTheNewFileAndTheNextRunNoLeftover)
{
    TempFolder folder;
    const std::string recording = folder.Path("VOC00001.WAV");
    ASSERT_TRUE(WriteSampleFile(recording, SampleSpecFor(0, 3500 * 30)));
    const std::string target = folder.Path("call.mp3");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Voctool({"convert", recording, target}).exitCode, 0);
    const auto runTime =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    const std::string newBytes = TempFolder::Read(target);
    const std::string oldBytes = "the old call";

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<long> moment(0, runTime.count());
    for (int kill = 0; kill < 24; ++kill) {
        if (kill % 4 == 0)
            TempFolder::WriteFile(target, oldBytes);
        QProcess process;
        process.start(QString::fromStdString(VoctoolPath()),
                      {QStringLiteral("convert"), QString::fromStdString(recording), QString::fromStdString(target)});
        ASSERT_TRUE(process.waitForStarted());
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        process.kill();
        ASSERT_TRUE(process.waitForFinished(10000));
        const std::string left = TempFolder::Read(target);
        EXPECT_TRUE(left == oldBytes || left == newBytes)
            << "after a kill the target holds " << left.size() << " bytes";
    }
    ASSERT_EQ(Voctool({"convert", recording, target}).exitCode, 0);
    EXPECT_EQ(TempFolder::Read(target), newBytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2) << "a temporary file is left";
}

TEST(VoctoolHelp, TheToolAndEveryCommandAnswerHelpOnStandardOutput)
{
    const Outcome overview = Voctool({"--help"});
    EXPECT_EQ(overview.exitCode, 0);
    for (const char* command : {"make-sample", "list", "search", "convert", "play"}) {
        EXPECT_NE(overview.out.find(std::string("voctool ") + command), std::string::npos) << command;
        const Outcome help = Voctool({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_EQ(help.out.rfind(std::string("usage: voctool ") + command, 0), 0u) << help.out;
    }
    EXPECT_EQ(Voctool({"no-such-command"}).exitCode, 2);

    const Outcome version = Voctool({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("voctool [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
}

// Under a zh locale voctool's help and messages are Chinese, otherwise English; the rows for
// scripts are the same under both.
TEST(VoctoolHelp, SpeaksChineseUnderAChineseLocaleAndPrintsTheSameRows)
{
    TempFolder folder;
    ASSERT_TRUE(WriteSampleFolder(folder.path(), 3, 3500));
    const LocaleVariables chinese = {{"LANG", "zh_CN.UTF-8"}};
    const LocaleVariables english = {{"LANG", "C"}};

    const Outcome zhHelp = Voctool({"--help"}, chinese);
    EXPECT_EQ(zhHelp.exitCode, 0);
    EXPECT_EQ(zhHelp.out.rfind("用法：voctool 命令", 0), 0u) << zhHelp.out;
    EXPECT_NE(zhHelp.out.find("退出状态："), std::string::npos) << zhHelp.out;
    EXPECT_EQ(zhHelp.out.find("usage"), std::string::npos) << zhHelp.out;
    EXPECT_EQ(Voctool({"--help"}, english).out.rfind("usage: voctool COMMAND", 0), 0u);
    for (const LocaleVariables& overridden : {LocaleVariables{{"LANG", "zh_CN.UTF-8"}, {"LC_ALL", "C"}},
                                              LocaleVariables{{"LANG", "zh_CN.UTF-8"}, {"LC_MESSAGES", "en_US.UTF-8"}}})
        EXPECT_EQ(Voctool({"--help"}, overridden).out.rfind("usage: ", 0), 0u) << "LC_ALL and LC_MESSAGES come first";
    const Outcome listHelp = Voctool({"list", "--help"}, {{"LC_MESSAGES", "zh_CN.UTF-8"}});
    EXPECT_EQ(listHelp.out.rfind("用法：voctool list DIR\n", 0), 0u) << listHelp.out;

    const std::string missing = folder.Path("missing %2 %1"); // the name is printed as it is
    const Outcome zhFailed = Voctool({"list", missing}, chinese);
    EXPECT_EQ(zhFailed.exitCode, 1);
    EXPECT_EQ(zhFailed.err, "voctool: 文件夹不存在：" + missing + "\n");
    EXPECT_EQ(Voctool({"list", missing}, english).err, "voctool: no such folder: " + missing + "\n");

    const Outcome zhRows = Voctool({"list", folder.path()}, chinese);
    EXPECT_EQ(zhRows.exitCode, 0) << zhRows.err;
    EXPECT_EQ(Rows(zhRows).size(), 3u);
    EXPECT_EQ(zhRows.out, Voctool({"list", folder.path()}, english).out);
}

// A folder holding the locale zh_CN.UTF-8, made once beside the tests by localedef (package
// locales): the machine need not have it installed for voctool to find it through LOCPATH.
std::string ChineseLocaleFolder()
{
    const std::filesystem::path folder = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "locales";
    const std::filesystem::path locale = folder / "zh_CN.UTF-8";
    if (!std::filesystem::exists(locale / "LC_MESSAGES")) {
        std::filesystem::create_directories(folder);
        const std::string command = "localedef -i zh_CN -f UTF-8 '" + locale.string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == -1 || !std::filesystem::exists(locale / "LC_MESSAGES"))
            return {};
    }
    return folder.string();
}

// Under zh_CN the messages of replaced, notes import, convert and search are Chinese, the
// system's reasons included, and every line carries the prefix; under the C locale too.
TEST(VoctoolLanguage, EveryMessageIsChineseUnderZhCnAndCarriesThePrefixInBothLanguages)
{
    const std::string locales = ChineseLocaleFolder();
    ASSERT_FALSE(locales.empty()) << "localedef cannot make zh_CN.UTF-8 (scripts/setup-deps.sh installs locales)";
    TempFolder root;
    const std::string card = root.Path("VOICE");
    const std::string archive = root.Path("archive");
    const std::string empty = root.Path("empty");
    std::filesystem::create_directories(empty);
    ASSERT_TRUE(WriteSampleFolder(card, 1, 4000));
    ASSERT_EQ(Voctool({"upload", card, archive}).exitCode, 0);
    ASSERT_TRUE(WriteSampleFile(card + "/VOC00001.WAV", SampleSpecFor(60, 4000)));
    ASSERT_EQ(Voctool({"upload", card, archive, "--replace"}).exitCode, 0);
    const std::string kept = Split(Voctool({"replaced", archive}).out, '\t')[0];
    ASSERT_EQ(Voctool({"replaced", archive, "--restore", kept}).exitCode, 0);

    const std::vector<std::pair<std::vector<std::string>, int>> commands = {
        {{"replaced", root.Path("missing")}, 1},
        {{"replaced", empty}, 0},
        {{"replaced", archive, "--restore", "VOC00009.WAV"}, 1},
        {{"replaced", archive, "--restore", "VOC00001.WAV", "--as", "../a.WAV"}, 2},
        {{"replaced", archive, "--restore", kept}, 1},
        {{"notes", "import", root.Path("missing.jsonl")}, 1},
        {{"convert", card, root.Path("out.wav")}, 1},
        {{"convert", root.Path("missing.WAV"), root.Path("out.wav")}, 1},
        {{"search", archive, "--from", "2024-01-02", "--to", "2024-01-01"}, 1},
    };
    const LocaleVariables chinese = {{"LANG", "zh_CN.UTF-8"}, {"LOCPATH", QString::fromStdString(locales)}};
    for (const auto& [words, status] : commands) {
        const std::string command = words[0] + " " + words[1];
        for (const LocaleVariables& locale : {chinese, LocaleVariables{{"LANG", "C"}}}) {
            const Outcome outcome = Voctool(words, locale);
            EXPECT_EQ(outcome.exitCode, status) << command << "\n" << outcome.err;
            ASSERT_FALSE(outcome.err.empty()) << command << " says nothing";
            for (const std::string& line : Split(outcome.err, '\n'))
                EXPECT_EQ(line.rfind("voctool: ", 0), 0u) << command << ": " << line;
        }
        // What is left once the paths and words given, the prefix and the command's own words
        // are taken out holds no English word.
        std::string said = Voctool(words, chinese).err;
        std::vector<std::string> given = words;
        given.insert(given.end(), {"voctool", "replaced", root.path()});
        std::sort(given.begin(), given.end(),
                  [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
        for (const std::string& word : given)
            for (std::size_t at; (at = said.find(word)) != std::string::npos;)
                said.erase(at, word.size());
        EXPECT_FALSE(std::regex_search(said, std::regex("[A-Za-z]{3,}"))) << command << ": " << said;
    }
}

// Two voctool play at once, each through SDL's disk output into a file of its own, with the same
// cache folder: each writes out the samples of its own recording, and neither leaves a decoded
// file behind for the other to overwrite.
TEST(VoctoolPlay, TwoPlayersInTwoProcessesEachHearTheirOwnRecording)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    struct Playback {
        std::string recording;
        std::string heard;
        std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    };
    Playback playbacks[2];
    for (std::uint32_t i = 0; i < 2; ++i) {
        Playback& playback = playbacks[i];
        playback.recording = folder + "/VOC0000" + std::to_string(i + 1) + ".WAV";
        playback.heard = folder + "/heard" + std::to_string(i + 1) + ".raw";
        ASSERT_TRUE(WriteSampleFile(playback.recording, SampleSpecFor(i + 3, 256 * 24))); // 1.5 s
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SDL_AUDIODRIVER", "disk");
        environment.insert("SDL_DISKAUDIOFILE", QString::fromStdString(playback.heard));
        environment.insert("XDG_CACHE_HOME", dir.path() + "/cache");
        playback.process->setProcessEnvironment(environment);
        playback.process->start(QString::fromStdString(VoctoolPath()), {"play", QString::fromStdString(playback.recording)});
        ASSERT_TRUE(playback.process->waitForStarted());
    }
    for (Playback& playback : playbacks) {
        ASSERT_TRUE(playback.process->waitForFinished(20000)) << playback.recording << " did not end within 20 s";
        EXPECT_EQ(playback.process->exitCode(), 0) << playback.process->readAllStandardError().toStdString();
    }
    std::vector<std::int16_t> decoded[2];
    for (int i = 0; i < 2; ++i) {
        Result<LoadedWave> wave = DecodeToPcmWave(playbacks[i].recording);
        ASSERT_TRUE(wave) << wave.error().reason;
        decoded[i] = SamplesOf(std::string(wave->data.begin(), wave->data.end()));
    }
    for (int i = 0; i < 2; ++i) {
        const std::vector<std::int16_t> heard = SamplesOf(TempFolder::Read(playbacks[i].heard));
        ASSERT_GT(heard.size(), 8000u) << playbacks[i].heard << " holds almost nothing";
        const auto second = [](const std::vector<std::int16_t>& samples) {
            return std::vector<std::int16_t>(samples.begin() + 4000, samples.begin() + 8000);
        };
        EXPECT_GT(FindSegment(heard, second(decoded[i])).correlation, 0.95) << "its own recording, " << i;
        EXPECT_LT(FindSegment(heard, second(decoded[1 - i])).correlation, 0.5) << "the other recording, " << i;
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "/cache/sdvoice")) << "a decoded file was left to share";
}

TEST(VoctoolUpload, CopiesSkipsLeavesOrReplacesAndTheReplacedOneCanBeRestored)
{
    TempFolder root;
    const std::string card = root.Path("VOICE");
    const std::string archive = root.Path("archive");
    ASSERT_TRUE(WriteSampleFolder(card, 3, 4000));
    Outcome first = Voctool({"upload", card, archive});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out,
              "copied VOC00001.WAV\ncopied VOC00002.WAV\ncopied VOC00003.WAV\n"
              "copied 3, identical 0, replaced 0, left 0 of 3 recordings\ninto "
                  + archive + "\n");

    // The card starts again at VOC00001.WAV with another call.
    ASSERT_TRUE(WriteSampleFile(card + "/VOC00001.WAV", SampleSpecFor(30, 4000)));
    const std::string oldCall = TempFolder::Read(archive + "/VOC00001.WAV");
    Outcome left = Voctool({"upload", card, archive, "--skip-identical"});
    EXPECT_EQ(left.exitCode, 1);
    EXPECT_NE(left.out.find("left VOC00001.WAV"), std::string::npos) << left.out;
    EXPECT_NE(left.out.find("identical VOC00002.WAV"), std::string::npos) << left.out;
    EXPECT_NE(left.out.find("copied 0, identical 2, replaced 0, left 1 of 3"), std::string::npos) << left.out;
    EXPECT_EQ(TempFolder::Read(archive + "/VOC00001.WAV"), oldCall);

    Outcome replaced = Voctool({"upload", card, archive, "--skip-identical", "--replace"});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_EQ(TempFolder::Read(archive + "/VOC00001.WAV"), TempFolder::Read(card + "/VOC00001.WAV"));

    Outcome listed = Voctool({"replaced", archive});
    EXPECT_EQ(listed.exitCode, 0);
    const std::vector<std::string> line = Split(listed.out.substr(0, listed.out.find('\n')), '\t');
    ASSERT_EQ(line.size(), 2u) << listed.out;
    EXPECT_EQ(line[1], "VOC00001.WAV");
    EXPECT_NE(replaced.out.find(".replaced/" + line[0]), std::string::npos) << replaced.out;

    // The old call takes its name back; the newer one is kept in its place.
    const std::string newerCall = TempFolder::Read(archive + "/VOC00001.WAV");
    Outcome restored = Voctool({"replaced", archive, "--restore", line[0]});
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(TempFolder::Read(archive + "/VOC00001.WAV"), oldCall);
    const std::vector<std::string> newer = Split(Voctool({"replaced", archive}).out, '\t');
    ASSERT_EQ(newer.size(), 2u);
    EXPECT_EQ(TempFolder::Read(archive + "/.replaced/" + newer[0]), newerCall);
    EXPECT_NE(restored.out.find(newer[0]), std::string::npos) << restored.out;
    EXPECT_EQ(Voctool({"upload", card}).exitCode, 2);

    // Archived copies with the card's bytes are identical, whatever the options.
    const std::string again = root.Path("again");
    ASSERT_EQ(Voctool({"upload", card, again}).exitCode, 0);
    Outcome identical = Voctool({"upload", card, again});
    EXPECT_EQ(identical.exitCode, 0) << identical.out;
    EXPECT_NE(identical.out.find("copied 0, identical 3, replaced 0, left 0 of 3"), std::string::npos) << identical.out;
    EXPECT_EQ(Voctool({"upload", card, again, "--replace"}).exitCode, 0);
    EXPECT_EQ(Voctool({"replaced", again}).out, "") << "nothing identical is kept";
}

namespace {

// Makes a file immutable (chattr +i) for the scope: nobody, root included, may replace or remove it.
class ImmutableFile {
public:
    explicit ImmutableFile(std::string path) : path_(std::move(path)) { set_ = SetFlag(true); }
    ~ImmutableFile()
    {
        if (set_)
            SetFlag(false);
    }
    ImmutableFile(const ImmutableFile&) = delete;
    ImmutableFile& operator=(const ImmutableFile&) = delete;
    bool set() const { return set_; }

private:
    bool SetFlag(bool on) const
    {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            ::close(fd);
        return done;
    }

    std::string path_;
    bool set_ = false;
};

} // namespace

// One rename of the batch fails (an archived file that nobody may replace): each file's line and
// the counts say what the archive holds afterwards, and the recording the run replaced stays kept.
TEST(VoctoolUpload, ARenameFailingMidBatchIsToldAsTheArchiveHoldsIt)
{
    TempFolder root;
    const std::string card = root.Path("VOICE");
    const std::string archive = root.Path("archive");
    ASSERT_TRUE(WriteSampleFolder(card, 4, 4000));
    std::filesystem::create_directories(archive);
    ASSERT_TRUE(WriteSampleFile(archive + "/VOC00001.WAV", SampleSpecFor(21, 4000)));
    ASSERT_TRUE(WriteSampleFile(archive + "/VOC00002.WAV", SampleSpecFor(22, 4000)));
    const std::string oldFirst = TempFolder::Read(archive + "/VOC00001.WAV");
    const std::string oldSecond = TempFolder::Read(archive + "/VOC00002.WAV");
    const ImmutableFile locked(archive + "/VOC00002.WAV");
    if (!locked.set())
        GTEST_SKIP() << "this file system or user cannot make a file immutable";

    const Outcome run = Voctool({"upload", card, archive, "--replace"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("VOC00002.WAV"), std::string::npos) << run.err;
    const std::string listed = Voctool({"replaced", archive}).out;
    ASSERT_EQ(std::count(listed.begin(), listed.end(), '\n'), 1) << "only the replaced recording is kept: " << listed;
    const std::vector<std::string> kept = Split(listed.substr(0, listed.find('\n')), '\t');
    ASSERT_EQ(kept.size(), 2u) << listed;
    EXPECT_EQ(TempFolder::Read(archive + "/.replaced/" + kept[0]), oldFirst);
    EXPECT_EQ(TempFolder::Read(archive + "/VOC00001.WAV"), TempFolder::Read(card + "/VOC00001.WAV"));
    EXPECT_EQ(TempFolder::Read(archive + "/VOC00002.WAV"), oldSecond);
    EXPECT_FALSE(std::filesystem::exists(archive + "/VOC00003.WAV"));
    EXPECT_EQ(run.out.substr(0, run.out.find('\n', run.out.find('\n') + 1) + 1),
              "replaced VOC00001.WAV (the archived one kept as .replaced/" + kept[0]
                  + ")\nleft VOC00002.WAV on the card (its copy failed)\n")
        << run.out;
    for (const char* name : {"VOC00003.WAV", "VOC00004.WAV"})
        EXPECT_NE(run.out.find("left " + std::string(name) + " on the card ("), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\ncopied 1, identical 0, replaced 1, left 3 of 4 recordings\ninto " + archive + "\n"),
              std::string::npos)
        << run.out;
}

namespace {

// Every regular file under folder by its path relative to folder, with its bytes.
std::map<std::string, std::string> FilesUnder(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), folder).string()] = TempFolder::Read(entry.path().string());
    }
    return files;
}

} // namespace

TEST(VoctoolUpload, KilledAtAnyMomentLeavesEveryNameWholeAndTheNextRunFinishes)
{
    TempFolder root;
    const std::string card = root.Path("VOICE");
    const std::string before = root.Path("before");
    const std::string archive = root.Path("archive");
    constexpr std::uint32_t kFiles = 30;
    ASSERT_TRUE(WriteSampleFolder(card, kFiles, 100000));
    // The archive of an earlier card: most names hold other recordings, some the card's own.
    std::filesystem::create_directories(before);
    for (std::uint32_t i = 0; i < kFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "/VOC%05u.WAV", i + 1);
        ASSERT_TRUE(WriteSampleFile(before + name, SampleSpecFor(i % 5 == 0 ? i : i + 1000, 100000)));
    }
    const std::map<std::string, std::string> newCalls = FilesUnder(card);
    const std::map<std::string, std::string> oldCalls = FilesUnder(before);
    const auto resetArchive = [&] {
        std::filesystem::remove_all(archive);
        std::filesystem::copy(before, archive);
    };
    const auto keptCalls = [&] {
        std::set<std::string> kept;
        if (std::filesystem::exists(archive + "/.replaced"))
            for (const auto& [name, bytes] : FilesUnder(archive + "/.replaced"))
                kept.insert(bytes);
        return kept;
    };

    resetArchive();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Voctool({"upload", card, archive, "--replace"}).exitCode, 0);
    const auto runTime =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    // Within the first four fifths of a run's time, which varies with the disk's other work.
    const auto killWindow = runTime * 4 / 5;
    std::mt19937 random(29);
    for (int kill = 0; kill < 24; ++kill) {
        resetArchive();
        const auto delay = std::chrono::microseconds(random() % killWindow.count());
        SCOPED_TRACE("killed after " + std::to_string(delay.count()) + " µs of a " + std::to_string(runTime.count())
                     + " µs run");
        QProcess process;
        process.start(QString::fromStdString(VoctoolPath()),
                      {"upload", QString::fromStdString(card), QString::fromStdString(archive), "--replace"});
        ASSERT_TRUE(process.waitForStarted());
        std::this_thread::sleep_for(delay);
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        ASSERT_TRUE(process.waitForFinished(5000)) << "voctool did not end after SIGKILL";

        const std::set<std::string> kept = keptCalls();
        for (const auto& [name, newCall] : newCalls) {
            const std::string archived = TempFolder::Read(archive + "/" + name);
            EXPECT_TRUE(archived == newCall || archived == oldCalls.at(name)) << name << " is neither call whole";
            if (archived == newCall && newCall != oldCalls.at(name)) {
                EXPECT_TRUE(kept.contains(oldCalls.at(name))) << name << " replaced but its old call not kept";
            }
        }

        const Outcome next = Voctool({"upload", card, archive, "--replace"});
        EXPECT_EQ(next.exitCode, 0) << next.err;
        const std::set<std::string> keptAfter = keptCalls();
        for (const auto& [name, newCall] : newCalls) {
            EXPECT_EQ(TempFolder::Read(archive + "/" + name), newCall) << name;
            if (newCall != oldCalls.at(name)) {
                EXPECT_TRUE(keptAfter.contains(oldCalls.at(name))) << name;
            }
        }
        for (const auto& [path, bytes] : FilesUnder(archive))
            EXPECT_EQ(path.find(".sdvoice-"), std::string::npos) << "a temporary file is left: " << path;
    }
}

TEST(VoctoolReplaced, RefusesWhatIsNoFolderOrNoRecordersNameAndRestoresUnderItsNameOrAnother)
{
    TempFolder root;
    const std::string card = root.Path("VOICE");
    const std::string archive = root.Path("archive");
    ASSERT_TRUE(WriteSampleFolder(card, 2, 4000));
    for (const std::string& notAFolder : {root.Path("missing"), card + "/VOC00001.WAV"}) {
        const Outcome refused = Voctool({"replaced", notAFolder});
        EXPECT_EQ(refused.exitCode, 1) << notAFolder;
        EXPECT_NE(refused.err.find(notAFolder + ": "), std::string::npos) << refused.err;
    }

    // VOC00001.WAV is replaced twice, VOC00002.WAV once.
    const std::string month = MonthFolderName(*ReadRecordingHeader(card + "/VOC00001.WAV"));
    ASSERT_EQ(Voctool({"upload", card, archive, "--month-folders"}).exitCode, 0);
    ASSERT_TRUE(WriteSampleFile(card + "/VOC00002.WAV", SampleSpecFor(50, 4000)));
    for (const std::uint32_t seed : {40u, 41u}) {
        ASSERT_TRUE(WriteSampleFile(card + "/VOC00001.WAV", SampleSpecFor(seed, 4000)));
        ASSERT_EQ(Voctool({"upload", card, archive, "--month-folders", "--replace"}).exitCode, 0);
    }
    const std::string first = month + "/VOC00001.WAV";
    const Outcome ambiguous = Voctool({"replaced", archive, "--restore", first});
    EXPECT_EQ(ambiguous.exitCode, 1);
    EXPECT_NE(ambiguous.err.find("_2/" + first), std::string::npos) << "names the day folders: " << ambiguous.err;

    const std::string second = month + "/VOC00002.WAV";
    const std::string keptBefore = Voctool({"replaced", archive}).out;
    for (const char* badName : {"../x.WAV", "a/x.WAV", "..", "bad.txt", "VOC00002-old.WAV"}) {
        const Outcome refused = Voctool({"replaced", archive, "--restore", second, "--as", badName});
        EXPECT_EQ(refused.exitCode, 2) << badName;
    }
    EXPECT_EQ(Voctool({"replaced", archive}).out, keptBefore) << "nothing moved";
    EXPECT_EQ(TempFolder::Read(archive + "/" + second), TempFolder::Read(card + "/VOC00002.WAV"));
    const Outcome restoredAs = Voctool({"replaced", archive, "--restore", second, "--as", "VOC0002B.WAV"});
    EXPECT_EQ(restoredAs.exitCode, 0) << restoredAs.err;
    EXPECT_EQ(TempFolder::Read(archive + "/" + month + "/VOC0002B.WAV").size(),
              TempFolder::Read(card + "/VOC00001.WAV").size());
    EXPECT_EQ(TempFolder::Read(archive + "/" + second), TempFolder::Read(card + "/VOC00002.WAV"));

    // A free name in a month folder that is gone since: the folder is made again.
    std::filesystem::remove_all(archive + "/" + month);
    const std::string kept = Split(Voctool({"replaced", archive}).out, '\t')[0];
    const Outcome restored = Voctool({"replaced", archive, "--restore", kept});
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_TRUE(std::filesystem::exists(archive + "/" + first));
}

namespace {

// The archive index of voctool's notes in a private folder while a test runs.
class VoctoolStats : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::setenv("XDG_DATA_HOME", home.Path("data").c_str(), 1), 0);
        ASSERT_EQ(::setenv("XDG_CONFIG_HOME", home.Path("config").c_str(), 1), 0);
    }
    void TearDown() override
    {
        ::unsetenv("XDG_DATA_HOME");
        ::unsetenv("XDG_CONFIG_HOME");
    }

    TempFolder home;
};

// The width and height a PNG file's header gives; zeros when it is none.
std::pair<std::uint32_t, std::uint32_t> PngSize(const std::string& bytes)
{
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    const auto number = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = at; i < at + 4; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes[i]);
        return value;
    };
    return {number(16), number(20)};
}

} // namespace

TEST_F(VoctoolStats, PrintsTotalsPeriodsAndTopNumbersAndWritesTheChartPicture)
{
    TempFolder archive;
    // Sunday 31 December 2023 and Monday 1 January 2024 lie in ISO weeks 2023-52 and 2024-1; the
    // message without a number has a start time in month 13.
    ASSERT_TRUE(WriteSampleFile(archive.Path("VOC00001.WAV"), {.mode = 'B', .phone = "13800001111", .year = 23,
                                                               .month = 12, .day = 31, .hour = 9, .minute = 5,
                                                               .dataBytes = 3500 * 6}));
    ASSERT_TRUE(WriteSampleFile(archive.Path("VOC00002.WAV"), {.mode = 'Z', .phone = "13800001111", .year = 24,
                                                               .month = 1, .day = 1, .hour = 10, .minute = 0,
                                                               .dataBytes = 3500 * 6}));
    ASSERT_TRUE(WriteSampleFile(archive.Path("VOC00003.WAV"),
                                {.mode = 'L', .phone = "", .year = 24, .month = 13, .day = 1, .dataBytes = 3500}));
    ASSERT_EQ(Voctool({"note", archive.Path("VOC00001.WAV"), "--user-type", "客户"}).exitCode, 0);

    const std::string picture = archive.Path("stats.png");
    const Outcome stats = Voctool({"stats", archive.path(), "--by", "week", "--png", picture});
    EXPECT_EQ(stats.exitCode, 0) << stats.err;
    const std::string regular = "13800001111\t2\t12秒\t6秒\t0\t1\t1\t0\t0\t2023年12月31日09时05分\t2024年01月01日10时00分\t客户\n";
    const std::string none = "（无号码）\t1\t1秒\t1秒\t1\t0\t0\t0\t0\t\t\t\n";
    EXPECT_EQ(stats.out, "合计\t全部\t3\t13秒\t4秒\t1\t1\t1\t0\t0\t\t\t\n"
                         "合计\t留言\t1\t1秒\t1秒\t1\t0\t0\t0\t0\t\t\t\n"
                         "合计\t被叫\t1\t6秒\t6秒\t0\t1\t0\t0\t0\t\t\t\n"
                         "合计\t主叫\t1\t6秒\t6秒\t0\t0\t1\t0\t0\t\t\t\n"
                         "合计\t现场\t0\t0秒\t0秒\t0\t0\t0\t0\t0\t\t\t\n"
                         "合计\t其他\t0\t0秒\t0秒\t0\t0\t0\t0\t0\t\t\t\n"
                         "按周\t2023年第52周\t1\t6秒\t6秒\t0\t1\t0\t0\t0\t\t\t\n"
                         "按周\t2024年第1周\t1\t6秒\t6秒\t0\t0\t1\t0\t0\t\t\t\n"
                         "按周\t（时间无效）\t1\t1秒\t1秒\t1\t0\t0\t0\t0\t\t\t\n"
                         "通话次数前十\t" + regular + "通话次数前十\t" + none
                         + "通话时长前十\t" + regular + "通话时长前十\t" + none);
    EXPECT_EQ(PngSize(TempFolder::Read(picture)), std::pair(1600u, 600u));
    // As wide as a phone shows it: the charts one above the other.
    ASSERT_EQ(Voctool({"stats", archive.path(), "--png", picture, "--width", "390"}).exitCode, 0);
    EXPECT_EQ(PngSize(TempFolder::Read(picture)), std::pair(390u, 640u));
    EXPECT_EQ(Voctool({"stats", archive.path(), "--png", picture, "--width", "20000"}).exitCode, 2);

    // Two days: by day unless told otherwise; the same days as a search gives.
    const Outcome days = Voctool({"stats", archive.path(), "--from", "2023-12-31", "--to", "2023-12-31"});
    EXPECT_EQ(days.exitCode, 0) << days.err;
    EXPECT_NE(days.out.find("按日\t12月31日\t1\t6秒\t"), std::string::npos) << days.out;
    EXPECT_EQ(days.out.find("（时间无效）"), std::string::npos) << days.out;

    EXPECT_EQ(Voctool({"stats", archive.path(), "--by", "year"}).exitCode, 2);
    EXPECT_EQ(Voctool({"stats", archive.path(), "--from", "2024-01-01"}).exitCode, 2);
    EXPECT_EQ(Voctool({"stats"}).exitCode, 2);
    EXPECT_EQ(Voctool({"stats", archive.Path("missing")}).exitCode, 1);
}

// A value that begins with "--" after an option that takes one is an option taken for a value: a
// picture written to a file named "--png", a chart of the wrong search. It is refused, in both
// languages; joined to its option, or after "--" for the folder, it is taken as it is.
TEST_F(VoctoolStats, AValueThatBeginsWithTwoDashesIsRefusedUnlessJoinedToItsOption)
{
    TempFolder archive;
    AddRecording(archive.Path("VOC00001.WAV"), 'Z', "13800001111", 5, 9);
    const std::string picture = archive.Path("stats.png");
    const std::vector<std::string> days{"stats", archive.path(), "--from", "2014-03-01", "--to", "2014-03-31"};
    const auto with = [&days](std::vector<std::string> more) {
        more.insert(more.begin(), days.begin(), days.end());
        return more;
    };
    for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
             {"--user-type", "--png"}, {"--phone", "--by"}, {"--by", "--png"}, {"--png", "--recursive"}}) {
        const Outcome refused = Voctool(with({option, value, "--png", picture}));
        EXPECT_EQ(refused.exitCode, 2) << option << " " << value << ": " << refused.err;
        EXPECT_NE(refused.err.find(option + " needs a value, not the option " + value), std::string::npos)
            << refused.err;
    }
    const Outcome chinese = Voctool(with({"--user-type", "--png", "--png", picture}), {{"LANG", "zh_CN.UTF-8"}});
    EXPECT_EQ(chinese.exitCode, 2);
    EXPECT_NE(chinese.err.find("voctool: --user-type 需要一个值，而不是选项 --png"), std::string::npos) << chinese.err;
    EXPECT_FALSE(std::filesystem::exists(picture));
    EXPECT_FALSE(std::filesystem::exists("--png"));
    EXPECT_FALSE(std::filesystem::exists("--recursive"));

    const Outcome joined = Voctool(with({"--user-type=--png", "--phone=--by", "--png=" + picture}));
    EXPECT_EQ(joined.exitCode, 0) << joined.err;
    EXPECT_TRUE(joined.out.starts_with("合计\t全部\t0\t")) << joined.out; // no user type "--png"
    EXPECT_EQ(PngSize(TempFolder::Read(picture)), std::pair(1600u, 600u));
    const Outcome afterDashes = Voctool({"stats", "--from=2014-03-01", "--to=2014-03-31", "--", archive.path()});
    EXPECT_EQ(afterDashes.exitCode, 0) << afterDashes.err;
    EXPECT_TRUE(afterDashes.out.starts_with("合计\t全部\t1\t")) << afterDashes.out;
}

// A folder is known to the index once a note is set in it, its statistics are counted or an
// upload lands in it: the search of every known folder finds its recordings at once.
using VoctoolKnownFolders = VoctoolStats;
TEST_F(VoctoolKnownFolders, ANoteAListingOrAnUploadMakesTheFolderKnown)
{
    TempFolder noted;
    TempFolder listed;
    TempFolder card;
    TempFolder uploaded;
    AddRecording(noted.Path("VOC00001.WAV"), 'Z', "13800001111", 5, 9);
    AddRecording(listed.Path("VOC00002.WAV"), 'Z', "13800002222", 6, 9);
    AddRecording(card.Path("VOC00003.WAV"), 'B', "13800003333", 7, 9);
    ASSERT_EQ(Voctool({"note", noted.Path("VOC00001.WAV"), "--desc", "price agreed", "--user-type", "客户"}).exitCode,
              0);
    const Outcome byNote =
        Voctool({"search", "--all", "--from", "2014-03-01", "--to", "2014-03-31", "--desc", "price"});
    EXPECT_EQ(byNote.exitCode, 0) << byNote.err;
    EXPECT_EQ(Column(Rows(byNote), 1), std::vector<std::string>{"VOC00001.WAV"});

    ASSERT_EQ(Voctool({"stats", listed.path()}).exitCode, 0);
    ASSERT_EQ(Voctool({"upload", card.path(), uploaded.path()}).exitCode, 0);
    const Outcome every = Voctool({"search", "--all", "--from", "2014-03-01", "--to", "2014-03-31"});
    EXPECT_EQ(every.exitCode, 0) << every.err;
    std::vector<std::string> names = Column(Rows(every), 1);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"VOC00001.WAV", "VOC00002.WAV", "VOC00003.WAV"}));

    // The count of every known folder: every recording, the noted number with its user type.
    const Outcome counted = Voctool({"stats", "--all"});
    EXPECT_EQ(counted.exitCode, 0) << counted.err;
    EXPECT_NE(counted.out.find("合计\t全部\t3\t6秒\t"), std::string::npos) << counted.out;
    EXPECT_NE(counted.out.find("通话次数前十\t13800001111\t1\t2秒\t2秒\t0\t0\t1\t0\t0\t2014年03月05日09时30分\t"
                               "2014年03月05日09时30分\t客户\n"),
              std::string::npos)
        << counted.out;
}

// On a fresh desk (no index yet) an upload into month folders makes the index and its folders
// known, and a search of one folder makes that folder known: the search and the count of every
// known folder find every call at once.
TEST_F(VoctoolKnownFolders, AnUploadOnAFreshDeskMakesEveryCallFound)
{
    TempFolder root;
    const std::string card = root.Path("VOICE");
    const std::string archive = root.Path("archive");
    const std::string searched = root.Path("searched");
    std::filesystem::create_directories(card);
    std::filesystem::create_directories(searched);
    AddRecording(card + "/VOC00001.WAV", 'Z', "13800001111", 5, 9);
    AddRecording(card + "/VOC00002.WAV", 'B', "13800002222", 6, 9);
    ASSERT_TRUE(WriteSampleFile(card + "/VOC00003.WAV", {.phone = "13800003333", .month = 4, .dataBytes = 3500}));
    AddRecording(searched + "/VOC00004.WAV", 'L', "13800004444", 7, 9);
    const Outcome upload = Voctool({"upload", card, archive, "--month-folders"});
    ASSERT_EQ(upload.exitCode, 0) << upload.err;
    EXPECT_EQ(upload.err, "");
    EXPECT_EQ(Voctool({"search", searched, "--from", "2014-03-01", "--to", "2014-03-31"}).exitCode, 0);

    const Outcome every = Voctool({"search", "--all", "--from", "2014-03-01", "--to", "2014-04-30"});
    EXPECT_EQ(every.exitCode, 0) << every.err;
    EXPECT_EQ(Column(Rows(every), 7),
              (std::vector<std::string>{archive + "/2014年03月/VOC00001.WAV", archive + "/2014年03月/VOC00002.WAV",
                                        archive + "/2014年04月/VOC00003.WAV", searched + "/VOC00004.WAV"}));
    const Outcome counted = Voctool({"stats", "--all"});
    EXPECT_EQ(counted.exitCode, 0) << counted.err;
    EXPECT_EQ(counted.out.substr(0, counted.out.find('\n')), "合计\t全部\t4\t7秒\t1秒\t1\t1\t2\t0\t0\t\t\t");
}

// An upload into month folders leaves the archive folder itself without recordings: --recursive
// reads its subfolders (a hidden one never), the rows keep their eight texts, the full path naming
// the folder, and the figures count every recording.
TEST_F(VoctoolStats, SearchAndStatsWithRecursiveReadTheMonthFoldersOfAnUpload)
{
    TempFolder root;
    const std::string card = root.Path("VOICE");
    const std::string archive = root.Path("archive");
    std::filesystem::create_directories(card);
    AddRecording(card + "/VOC00001.WAV", 'Z', "13800001111", 5, 9);
    AddRecording(card + "/VOC00002.WAV", 'B', "13800002222", 6, 9);
    ASSERT_TRUE(WriteSampleFile(card + "/VOC00003.WAV", {.mode = 'L', .phone = "", .month = 4, .dataBytes = 3500}));
    const Outcome upload = Voctool({"upload", card, archive, "--month-folders"});
    EXPECT_EQ(upload.exitCode, 0) << upload.err;
    EXPECT_NE(upload.out.find("\ninto " + archive + "/2014年03月\ninto " + archive + "/2014年04月\n"),
              std::string::npos)
        << upload.out;
    std::filesystem::create_directories(archive + "/.replaced/2014-04-05");
    AddRecording(archive + "/.replaced/2014-04-05/VOC00001.WAV", 'Z', "13800009999", 5, 9);

    const std::vector<std::string> days{"--from", "2014-03-01", "--to", "2014-04-30"};
    const auto search = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {"search", archive});
        words.insert(words.end(), days.begin(), days.end());
        return Voctool(words);
    };
    const Outcome flat = search({});
    EXPECT_EQ(flat.exitCode, 0) << flat.err;
    EXPECT_EQ(flat.out, "");
    const Outcome deep = search({"--recursive"});
    EXPECT_EQ(deep.exitCode, 0) << deep.err;
    const auto rows = Rows(deep);
    EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Column(rows, 7),
              (std::vector<std::string>{archive + "/2014年03月/VOC00001.WAV", archive + "/2014年03月/VOC00002.WAV",
                                        archive + "/2014年04月/VOC00003.WAV"}));

    const auto total = [](const Outcome& stats) { return stats.out.substr(0, stats.out.find('\n')); };
    EXPECT_EQ(total(Voctool({"stats", archive})), "合计\t全部\t0\t0秒\t0秒\t0\t0\t0\t0\t0\t\t\t");
    const Outcome listed = Voctool({"stats", archive, "--recursive"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(total(listed), "合计\t全部\t3\t5秒\t1秒\t1\t1\t1\t0\t0\t\t\t");
    std::vector<std::string> dayWords{"stats", archive, "--recursive"};
    dayWords.insert(dayWords.end(), days.begin(), days.end());
    EXPECT_EQ(total(Voctool(dayWords)), total(listed));

    EXPECT_EQ(Voctool({"stats", "--all", "--recursive"}).exitCode, 2);
    EXPECT_EQ(Voctool({"search", "--all", "--recursive", "--from", "2014-03-01", "--to", "2014-03-31"}).exitCode, 2);
}

// The key and the index of voctool in a private folder while a test runs.
using VoctoolEvidence = VoctoolStats;

TEST_F(VoctoolEvidence, EvidenceAndArchiveChecksExitOneAndNameWhatWasChanged)
{
    TempFolder archive;
    ASSERT_TRUE(WriteSampleFolder(archive.path(), 2, 3500));
    const std::string zipPath = archive.Path("evidence.zip");
    const Outcome exported = Voctool({"evidence", archive.Path("VOC00001.WAV"), zipPath});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    const LocaleVariables chinese = {{"LANG", "zh_CN.UTF-8"}};
    const Outcome intact = Voctool({"verify-evidence", zipPath}, chinese);
    EXPECT_EQ(intact.exitCode, 0) << intact.out << intact.err;
    EXPECT_NE(intact.out.find("VOC00001.WAV: 完好\n"), std::string::npos) << intact.out;

    std::string raw = TempFolder::Read(zipPath);
    const std::string recording = TempFolder::Read(archive.Path("VOC00001.WAV"));
    raw[raw.find(recording.substr(2000, 64)) + 10] ^= 1;
    const Outcome changed = Voctool({"verify-evidence", archive.Write("changed.zip", raw)}, chinese);
    EXPECT_EQ(changed.exitCode, 1);
    EXPECT_NE(changed.out.find("VOC00001.WAV: 已被修改\n"), std::string::npos) << changed.out;
    EXPECT_EQ(Voctool({"verify-evidence", archive.Path("VOC00002.WAV")}).exitCode, 1);
    EXPECT_EQ(Voctool({"verify-evidence", zipPath, "--key", archive.Path("VOC00002.WAV")}).exitCode, 1);
    EXPECT_EQ(Voctool({"evidence", archive.Path("VOC00001.WAV")}).exitCode, 2);

    std::filesystem::remove(zipPath);
    EXPECT_EQ(Voctool({"verify", archive.path()}).exitCode, 0); // nothing recorded yet: nothing changed
    ASSERT_TRUE(RecordFolderSums(archive.path(), {{*Sha256HexOfFile(archive.Path("VOC00001.WAV")), "VOC00001.WAV"},
                                                  {*Sha256HexOfFile(archive.Path("VOC00002.WAV")), "VOC00002.WAV"}}));
    const Outcome whole = Voctool({"verify", archive.path(), "--recursive"}, chinese);
    EXPECT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(whole.out.rfind("VOC00001.WAV: 完好\nVOC00002.WAV: 完好\n", 0), 0u) << whole.out;
    archive.Write("VOC00002.WAV", recording);
    const Outcome damaged = Voctool({"verify", archive.path()}, chinese);
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_NE(damaged.out.find("VOC00002.WAV: 已被修改\n"), std::string::npos) << damaged.out;
    EXPECT_EQ(Voctool({"verify", archive.Path("missing")}).exitCode, 1);
}
