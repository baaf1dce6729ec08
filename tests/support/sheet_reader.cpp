#include "support/sheet_reader.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>

std::string ReadSheetWithOpenpyxl(const std::string& path)
{
    // __FILE__ is relative to the build folder, the one above the tests' own (<build>/tests/).
    const std::filesystem::path buildFolder =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
    const std::string script =
        buildFolder / std::filesystem::path(__FILE__).parent_path() / ".." / "export" / "read_sheet.py";
    // The system's interpreter, the one the distribution's python3-openpyxl belongs to.
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), {QString::fromStdString(script), QString::fromStdString(path)});
    if (!reader.waitForFinished(60000) || reader.exitStatus() != QProcess::NormalExit || reader.exitCode() != 0) {
        ADD_FAILURE() << "openpyxl could not read " << path << ": " << reader.readAllStandardError().toStdString();
        return {};
    }
    return reader.readAllStandardOutput().toStdString();
}
