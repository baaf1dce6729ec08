// Uploads 300 sample recordings of about 400 KB into an empty folder and compares the time
// with `cp --preserve=timestamps` of the same files followed by `sync`; then uploads the same
// card again with skip_identical on and compares that with the full upload; then uploads it
// into a folder whose every name holds another recording (each replaced, the old one kept in
// .replaced) and compares that with `cp` + `sync` over such a folder.
// Usage: bench_upload [work folder]   (default: a new folder under /tmp)

#include "catalogue/upload.h"
#include "tools/sample_maker.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr std::uint32_t kFileCount = 300;
constexpr std::uint32_t kDataBytes = 400000;

double SecondsOf(const std::function<void()>& work)
{
    ::sync(); // start from a clean page cache state: nothing dirty left by the set-up
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

UploadReports QuietReports()
{
    UploadReports reports;
    reports.started = [](int) {};
    reports.fileStarted = [](int, const std::string&) {};
    // "全部" at the first question, as a user replacing a whole card answers.
    reports.askOverwrite = [](const std::string&) { return DialogResult::YesToAll; };
    reports.failed = [](const std::string& text) { std::printf("message: %s\n", text.c_str()); };
    reports.finished = [](const UploadOutcome&) {};
    return reports;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    namespace fs = std::filesystem;
    std::string base;
    if (argc > 1) {
        base = argv[1];
        fs::create_directories(base);
    } else {
        char pattern[] = "/tmp/bench-upload-XXXXXX";
        base = ::mkdtemp(pattern);
    }
    const std::string device = base + "/VOICE/";
    const std::string uploaded = base + "/uploaded/";
    const std::string copied = base + "/copied/";
    if (!WriteSampleFolder(device, kFileCount, kDataBytes)) {
        std::fprintf(stderr, "cannot write the sample recordings into %s\n", device.c_str());
        return 1;
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(device))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    fs::create_directories(copied);

    const double baseline = SecondsOf([&] {
        const std::string command = "cp --preserve=timestamps " + device + "*.WAV " + copied + " && sync";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "the baseline copy failed\n");
    });
    Uploader uploader(QuietReports());
    const double upload = SecondsOf([&] {
        CreateUploadFolder(uploaded);
        uploader.UploadFileList(names, device, uploaded);
    });

    const double skipping = SecondsOf([&] {
        uploader.UploadFileList(names, device, uploaded, UploadOptions{.skipIdentical = true});
    });

    // Archives whose every name holds another recording.
    const std::string replacing = base + "/replacing/";
    const std::string overwritten = base + "/overwritten/";
    fs::create_directories(replacing);
    fs::create_directories(overwritten);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const SampleSpec other = SampleSpecFor(static_cast<std::uint32_t>(i) + kFileCount, kDataBytes);
        if (!WriteSampleFile(replacing + names[i], other) || !WriteSampleFile(overwritten + names[i], other)) {
            std::fprintf(stderr, "cannot write the archived recordings into %s\n", base.c_str());
            return 1;
        }
    }
    const double replaceBaseline = SecondsOf([&] {
        const std::string command = "cp --preserve=timestamps " + device + "*.WAV " + overwritten + " && sync";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "the baseline copy failed\n");
    });
    const double replaceUpload = SecondsOf([&] { uploader.UploadFileList(names, device, replacing); });
    const bool replacedAll = uploader.lastCopyOk();

    std::uintmax_t bytes = 0;
    for (const std::string& name : names)
        bytes += fs::file_size(device + name);
    std::printf("files %zu, %.1f MB in %s\n", names.size(), bytes / 1e6, base.c_str());
    std::printf("cp --preserve=timestamps + sync: %.3f s\n", baseline);
    std::printf("UploadFileList:                  %.3f s\n", upload);
    std::printf("ratio: %.2f (target <= 1.30)\n", upload / baseline);
    std::printf("again, skip_identical:           %.3f s\n", skipping);
    std::printf("ratio to the full upload: %.2f (target <= 0.20)\n", skipping / upload);
    std::printf("cp + sync over other recordings: %.3f s\n", replaceBaseline);
    std::printf("UploadFileList, every one replaced and kept: %.3f s\n", replaceUpload);
    std::printf("ratio: %.2f (target <= 1.30)\n", replaceUpload / replaceBaseline);
    if (argc <= 1)
        fs::remove_all(base);
    return replacedAll ? 0 : 1;
}
