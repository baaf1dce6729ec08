#pragma once

#include "platform/result.h"

#include <QString>

#include <initializer_list>
#include <string>
#include <string_view>

// What voctool tells people, in Simplified Chinese under a Chinese locale and in the English of
// the sources otherwise. The rows it prints for scripts are never translated.
//
// voctool runs without a QCoreApplication, which would also hand the locale to the C library and
// so change the rows, so QCoreApplication::translate finds no translator: Voctool::tr looks the
// text up in voctool's own. lupdate collects the texts of Voctool::tr and QT_TRANSLATE_NOOP
// ("Voctool", ...) into tools/translations/voctool_zh_CN.ts (scripts/update-translations.sh).
class Voctool {
public:
    // Loads the Chinese texts when LC_ALL, LC_MESSAGES or LANG (the first that is set) names a
    // zh locale. They are looked for beside the program's folder as the package installs them
    // and as the build lays them out; without them voctool speaks English.
    static void ChooseLanguage();
    static QString tr(const char* sourceText);
};

// The system's reason for error (strerror's text) in the language the locale variables name, from
// the C library's translations (package libc-l10n) where that locale is installed, else in
// English. Only this call sees the locale: the process's own stays C, so the rows do not change.
std::string SystemReason(int error);
// The reason a failure gives the user: the system's reason with the file it concerns where it
// has both, else the system's reason, else the failure's own text.
std::string FailureText(const Failure& failure);

// The text with %1, %2... replaced by the words byte for byte (a file name need not be UTF-8).
std::string Filled(const QString& text, std::initializer_list<std::string_view> words = {});
// "voctool: TEXT" on standard error.
void Say(const QString& text, std::initializer_list<std::string_view> words = {});
// "voctool: TEXT" for a text already made, such as the reason a library call gives.
void Say(std::string_view text);
// The text and a line break on standard output.
void Tell(const QString& text, std::initializer_list<std::string_view> words = {});
// "usage: voctool USAGE" on standard error; returns 2, the exit status of a wrong usage.
int SayUsage(std::string_view usage);
