#pragma once

#include <string>
#include <string_view>

// A fresh folder under $TMPDIR (default /tmp), removed with everything in it when the
// object goes out of scope. path() ends without a "/".
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string Path(std::string_view name) const;
    // Writes bytes into the file name (created or replaced); returns its path.
    std::string Write(std::string_view name, std::string_view bytes) const;
    // Writes bytes into any file (created or replaced); throws when it cannot.
    static void WriteFile(const std::string& path, std::string_view bytes);
    // Reads a whole file; empty when it cannot be read.
    static std::string Read(const std::string& path);

private:
    std::string path_;
};

// The configuration folder ($XDG_CONFIG_HOME) of the test process: a private folder, set on the
// first call. The program works its configuration paths out once per process, so a test file
// calls this while its statics are made, before any window reads its settings.
const TempFolder& PrivateConfigHome();
