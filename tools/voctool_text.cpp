#include "tools/voctool_text.h"

#include <QTranslator>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <locale.h>

namespace {

QTranslator& Translator()
{
    static QTranslator translator;
    return translator;
}

// The locale that chooses the language of messages, as the C library would choose it.
std::string_view MessagesLocale()
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0')
            return value;
    return {};
}

void Write(std::FILE* stream, const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stream);
}

} // namespace

void Voctool::ChooseLanguage()
{
    if (!MessagesLocale().starts_with("zh"))
        return;
    std::error_code unknown;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", unknown).parent_path();
    if (unknown)
        return; // without /proc the texts cannot be found: English
    const std::filesystem::path folder = (program / SDVOICE_TRANSLATIONS_FROM_PROGRAM).lexically_normal();
    static_cast<void>(Translator().load(QString::fromStdString((folder / "voctool_zh_CN.qm").string())));
}

QString Voctool::tr(const char* sourceText)
{
    const QString translated = Translator().translate("Voctool", sourceText);
    return translated.isEmpty() ? QString::fromUtf8(sourceText) : translated;
}

std::string SystemReason(int error)
{
    // UTF-8 text whatever the locale's character set, as every other message.
    static const locale_t messages = [] {
        const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
        if (utf8 == locale_t(0))
            return utf8;
        const locale_t chosen = ::newlocale(LC_MESSAGES_MASK, "", utf8);
        return chosen != locale_t(0) ? chosen : utf8; // a locale that is not installed: English
    }();
    return messages != locale_t(0) ? ::strerror_l(error, messages) : std::strerror(error);
}

std::string FailureText(const Failure& failure)
{
    if (failure.error == 0)
        return failure.reason;
    if (failure.path.empty())
        return SystemReason(failure.error);
    return failure.path + ": " + SystemReason(failure.error);
}

std::string Filled(const QString& text, std::initializer_list<std::string_view> words)
{
    const std::string pattern = text.toStdString();
    std::string filled;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const std::size_t number = i + 1 < pattern.size() ? static_cast<std::size_t>(pattern[i + 1] - '1')
                                                          : words.size();
        if (pattern[i] == '%' && number < words.size()) {
            filled += words.begin()[number];
            ++i;
        } else {
            filled += pattern[i];
        }
    }
    return filled;
}

void Say(const QString& text, std::initializer_list<std::string_view> words)
{
    Write(stderr, "voctool: " + Filled(text, words) + "\n");
}

void Say(std::string_view text)
{
    Write(stderr, "voctool: " + std::string(text) + "\n");
}

void Tell(const QString& text, std::initializer_list<std::string_view> words)
{
    Write(stdout, Filled(text, words) + "\n");
}

int SayUsage(std::string_view usage)
{
    Write(stderr, Filled(Voctool::tr("usage: voctool %1"), {usage}) + "\n");
    return 2;
}
