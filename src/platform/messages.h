#pragma once
// The messages of the command-line programs (tomebox-cli, hhc, hh and
// tomebox's own --help) in the user's language, with GNU gettext: English
// in the code, translations in the catalogue "tomebox" (po/). The windows'
// Russian texts are the string table (res/strings.h), not these.
//
// A message is marked Tr("...") or TrN("...", "...", n), so that xgettext
// finds it (--keyword=Tr --keyword=TrN:1,2), or N_("...") where it is only
// named, to be translated later with Tr (--keyword=N_).

#include <cstdio>
#include <libintl.h>
#include <string>
#include <type_traits>

namespace tbx {

inline constexpr const char* kMessageDomain = "tomebox";

// Takes the language of messages and the character set from the
// environment (LC_MESSAGES, LC_CTYPE, LANGUAGE) and finds the catalogue: in
// locale/ beside the program in a build tree, else in the installed tree's
// share/locale. The other categories stay "C", so the numbers in the lines
// the tools print for programs keep their form ("1.25", not "1,25").
void UseMessageCatalogue(const std::string& programFolder);

constexpr const char* N_(const char* english) {
    return english;
}

inline const char* Tr(const char* english) {
    return dgettext(kMessageDomain, english);
}

// The form for the count n; languages differ in how many forms they have.
inline const char* TrN(const char* singular, const char* plural, unsigned long n) {
    return dngettext(kMessageDomain, singular, plural, n);
}

namespace detail {
inline const char* FormatArg(const std::string& text) {
    return text.c_str();
}
template <class T>
requires std::is_arithmetic_v<T> || std::is_pointer_v<T> T FormatArg(T value) {
    return value;
}
} // namespace detail

// printf into a string, std::string arguments passed as their text. The
// format is usually a translated one, so it is not a literal the compiler
// could check; msgfmt --check compares every translation's directives with
// its English original instead.
template <class... Args> std::string Format(const char* format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return format;
    } else {
        const int size = std::snprintf(nullptr, 0, format, detail::FormatArg(args)...);
        if (size <= 0)
            return {};
        std::string text(static_cast<std::size_t>(size) + 1, '\0');
        std::snprintf(text.data(), text.size(), format, detail::FormatArg(args)...);
        text.resize(static_cast<std::size_t>(size));
        return text;
    }
}

} // namespace tbx
