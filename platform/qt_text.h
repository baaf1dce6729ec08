#pragma once

#include <QString>
#include <string>

// The program keeps its texts in UTF-8 std::strings; Qt wants QStrings.
inline QString ToQString(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}
