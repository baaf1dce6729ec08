#include "export/desktop_associations.h"

#include <QStandardPaths>
#include <fstream>
#include <string_view>

namespace {

// The groups of the lists whose lines "type=program.desktop;..." name programs for a type.
bool NamesPrograms(std::string_view group)
{
    return group == "[MIME Cache]" || group == "[Default Applications]" || group == "[Added Associations]";
}

bool FileNamesProgramFor(const std::string& mimeType, const std::string& file)
{
    std::ifstream lines(file);
    bool inGroup = false;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with('[')) {
            inGroup = NamesPrograms(line);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inGroup && equals != std::string::npos && std::string_view(line).substr(0, equals) == mimeType
            && line.find_first_not_of("; ", equals + 1) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

std::vector<std::string> DesktopAssociationFiles()
{
    std::vector<std::string> files;
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        files.push_back((folder + QStringLiteral("/mimeapps.list")).toStdString());
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
        files.push_back((folder + QStringLiteral("/mimeapps.list")).toStdString());
        files.push_back((folder + QStringLiteral("/mimeinfo.cache")).toStdString());
    }
    return files;
}

bool HasProgramFor(const std::string& mimeType, const std::vector<std::string>& files)
{
    for (const std::string& file : files)
        if (FileNamesProgramFor(mimeType, file))
            return true;
    return false;
}
