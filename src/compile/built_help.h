#pragma once
// What an existing help file was built from, as its #SYSTEM says: so that a
// build asks before it replaces the help file of another site.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tbx {

// The start page and title a help file records, as stored: bytes in the
// code page of its language.
struct BuiltHelp {
    std::string defaultTopic; // stored name without its leading "/"
    std::string title;
    std::uint32_t language = 0;
};

// The records of the help file at path; nothing when it is no help file we
// can read or holds no #SYSTEM.
std::optional<BuiltHelp> ReadBuiltHelp(const std::string& path);

// True when a build of the page named pageFile (the start page's file name,
// UTF-8) under title (the build window's title field, UTF-8) would record
// the same start page and title as found.
bool BuiltFromSamePage(const BuiltHelp& found, std::string_view pageFile, std::string_view title);

} // namespace tbx
