#pragma once

#include "tools/sample_maker.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

// Without a display, the benchmarks' windows run offscreen. Call before the QApplication.
inline void UseOffscreenWithoutDisplay()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The folder of sample recordings a benchmark lists, from its command line [COUNT [FOLDER]]:
// COUNT recordings (default 20000) in FOLDER/VOICE/, written on the first run and kept; without
// a FOLDER in a fresh folder under /tmp, removed when the object goes. Exits when it cannot.
class BenchFolder {
public:
    BenchFolder(int argc, char** argv)
        : count_(argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 20000),
          keep_(argc > 2),
          root_(keep_ ? argv[2] : "/tmp/sdvoice-bench-XXXXXX")
    {
        if (!keep_ && ::mkdtemp(root_.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        char lastName[16];
        std::snprintf(lastName, sizeof lastName, "VOC%05u.WAV", count_);
        if (!std::filesystem::exists(recordings() + lastName)) {
            std::printf("writing %u sample recordings into %s ...\n", count_, recordings().c_str());
            if (!WriteSampleFolder(recordings(), count_, 3500)) {
                std::fprintf(stderr, "cannot write the sample folder\n");
                std::exit(1);
            }
        }
    }
    ~BenchFolder()
    {
        std::error_code ignored;
        if (!keep_)
            std::filesystem::remove_all(root_, ignored);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    const std::string& root() const { return root_; }
    // The folder of recordings, ending with "/".
    std::string recordings() const { return root_ + "/VOICE/"; }

private:
    std::uint32_t count_;
    bool keep_;
    std::string root_;
};
