#include "audio/adpcm_converter.h"
#include "audio/call_file.h"
#include "audio/player.h"
#include "catalogue/call_details.h"
#include "platform/wave_out_sdl.h"
#include "tools/voctool_commands.h"
#include "tools/voctool_text.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// The signal that asked the playback to end (SIGINT or SIGTERM), 0 while none has.
std::atomic<int> endSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal is noted from a signal handler");

void OnEndSignal(int number)
{
    endSignal.store(number);
}

void CatchEndSignals()
{
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::optional<int> ParsePercent(const std::string& text)
{
    try {
        std::size_t used = 0;
        const int percent = std::stoi(text, &used);
        if (used == text.size() && percent >= 0 && percent <= 100)
            return percent;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// Plays the recording to its end, printing the progress, or until SIGINT or SIGTERM; the exit
// status: 0, 1 when it cannot be played, or the shell's status for the signal (130, 143).
int PlayToTheEnd(const std::string& recording, int percent)
{
    int argc = 1;
    char name[] = "voctool";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    Player player(MakeSdlWaveOut);
    // The player counts every buffer handed back as a whole one, the shorter last one too: at
    // the end it reports more than 100.
    QObject::connect(&player, &Player::positionChanged, &application, [](int played) {
        std::printf("%d%%\n", std::min(played, 100));
        std::fflush(stdout);
    });
    int status = 0;
    QObject::connect(&player, &Player::failed, &application,
                     [&](Player::Problem problem, const std::string& reason) {
                         if (problem == Player::Problem::BadFormat)
                             Say(Voctool::tr("cannot play '%1': %2"), {recording, reason});
                         else
                             Say(reason);
                         status = 1;
                         QCoreApplication::quit();
                     });
    QObject::connect(&player, &Player::ended, &application, &QCoreApplication::quit);
    // The signal handler only notes the signal; the stop is asked for here, on the main thread.
    QTimer signalWatch;
    QObject::connect(&signalWatch, &QTimer::timeout, &application, [&] {
        if (endSignal.load() != 0) {
            signalWatch.stop();
            player.stop();
        }
    });
    CatchEndSignals();
    signalWatch.start(50);

    // Started once the loop runs, so that a failure at once can end the loop.
    QTimer::singleShot(0, &player, [&] {
        player.seek(percent);
        player.play(recording);
    });
    QCoreApplication::exec();
    player.shutDown();
    const int caught = endSignal.load();
    return caught != 0 ? 128 + caught : status;
}

} // namespace

namespace {

struct ConvertRequest {
    std::string input;
    std::string output;
    std::optional<std::string> title;
    std::optional<std::string> comment;
};

// INPUT OUTPUT [--title TEXT] [--comment TEXT], the options anywhere after the command.
std::optional<ConvertRequest> ParseConvert(const CommandArgs& args)
{
    ConvertRequest request;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--title" || args[i] == "--comment") && i + 1 < args.size()) {
            std::optional<std::string>& tag = args[i] == "--title" ? request.title : request.comment;
            tag = args[++i];
        } else if (args[i].starts_with("--"))
            return std::nullopt;
        else
            paths.push_back(args[i]);
    }
    if (paths.size() != 2)
        return std::nullopt;
    request.input = paths[0];
    request.output = paths[1];
    return request;
}

// The recording's own details, with the options in place of the title and the comment.
CallTags TagsFor(const ConvertRequest& request)
{
    CallTags tags;
    if (const std::optional<RecordingHeader> header = ReadRecordingHeader(request.input))
        tags = CallTagsOf(*header, {});
    tags.title = request.title.value_or(tags.title);
    tags.comment = request.comment.value_or(tags.comment);
    return tags;
}

// Why INPUT cannot be a recording before it is opened: missing, unreadable or a folder; 0 when it
// may be one.
int InputProblem(const std::string& input)
{
    struct stat info {};
    if (::stat(input.c_str(), &info) != 0)
        return errno;
    return S_ISDIR(info.st_mode) ? EISDIR : 0;
}

} // namespace

// The output's extension names its format. Without a tag to carry, a wave output is the plain
// 60-byte-header PCM file the player reads; FLAC, MP3, Opus and a tagged WAV go through the call
// encoder.
int RunConvert(const CommandArgs& args)
{
    const std::optional<ConvertRequest> request = ParseConvert(args);
    if (!request) {
        return SayUsage("convert INPUT OUTPUT [--title TEXT] [--comment TEXT]");
    }
    const std::optional<CallFormat> named = CallFormatOfPath(request->output);
    if (!named) {
        Say(Voctool::tr("cannot tell the format of '%1': OUTPUT must end in .wav, .flac, .mp3, .opus or .ogg "
                        "(Opus in Ogg)"),
            {request->output});
        return 2;
    }
    if (const int unreadable = InputProblem(request->input); unreadable != 0) {
        Say(Voctool::tr("cannot convert '%1': %2"), {request->input, SystemReason(unreadable)});
        return 1;
    }
    const CallFormat format = *named;
    const bool plain = format == CallFormat::Wav && !request->title && !request->comment;
    const Result<void> converted = plain ? ConvertToPcmWave(request->output, request->input)
                                         : SaveRecordingAs(request->input, format, TagsFor(*request), request->output);
    if (!converted) {
        Say(Voctool::tr("cannot convert '%1': %2"), {request->input, FailureText(converted.error())});
        return 1;
    }
    return 0;
}

int RunPlay(const CommandArgs& args)
{
    std::optional<int> percent;
    if (args.size() == 3 && args[1] == "--from")
        percent = ParsePercent(args[2]);
    if ((args.size() != 1 && args.size() != 3) || (args.size() == 3 && !percent)) {
        return SayUsage(Filled(Voctool::tr("play FILE [--from PERCENT]   (PERCENT 0 to 100)")));
    }
    return PlayToTheEnd(args[0], percent.value_or(0));
}
