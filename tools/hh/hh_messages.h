#pragma once
// Every text hh prints, in one place, in the user's language (the
// catalogue). A stored name is outside input: it comes here escaped
// (EscapeForLine), never raw.

#include "platform/messages.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace hh::msg {

using tbx::Format;
using tbx::N_;
using tbx::Tr;
using tbx::TrN;

inline std::string Str(std::string_view text) {
    return std::string(text);
}

inline std::string Refused(std::string_view name) {
    return Format(Tr("refused, would land outside the output folder: %s"), Str(name));
}
inline std::string NotRooted(std::string_view name) {
    return Format(Tr("not extracted, the name does not start with \"/\", so it is no file of the "
                     "help file's folder tree: %s"),
                  Str(name));
}
inline std::string StoredTwice(std::string_view name) {
    return Format(Tr("%s: stored more than once; only its first entry is extracted"), Str(name));
}
inline std::string Problem(std::string_view name, std::string_view why) {
    return Str(name) + ": " + Str(why);
}
inline std::string OutOfMemory() {
    return Tr("out of memory");
}

// Why one file or folder could not be had; name is the part of the path.
inline std::string CannotCreateFolder(std::string_view name, std::string_view error) {
    return Format(Tr("cannot create folder %s: %s"), Str(name), Str(error));
}
inline std::string CannotOpenFolder(std::string_view name, std::string_view error) {
    return Format(Tr("cannot open folder %s: %s"), Str(name), Str(error));
}
inline std::string LinkOnTheWay(std::string_view name) {
    return Format(Tr("symbolic link on the way: %s"), Str(name));
}
inline std::string CannotCreate(std::string_view name, std::string_view error) {
    return Format(Tr("cannot create %s: %s"), Str(name), Str(error));
}
inline std::string CannotWrite(std::string_view name, std::string_view error) {
    return Format(Tr("cannot write %s: %s"), Str(name), Str(error));
}
inline std::string CannotRead(std::string_view name, std::string_view error) {
    return Format(Tr("damaged content, cannot read %s: %s"), Str(name), Str(error));
}
// kind: N_("a FIFO"), N_("a device") or N_("a socket"), translated here.
inline std::string NotReplaced(std::string_view name, const char* kind) {
    return Format(Tr("not replaced: %s is %s, not a file"), Str(name), Tr(kind));
}

// The closing lines of main.
inline std::string HeaderChainShort(std::string_view file, unsigned long long entries) {
    return Format(Tr("%s: the header's directory chain lists only %llu entries; every listing "
                     "chunk was read instead"),
                  Str(file), entries);
}
inline std::string Stopped(std::size_t files) {
    return Format(TrN("stopped after %zu file", "stopped after %zu files", files), files);
}
inline std::string Lost(std::string_view file, std::size_t files, std::size_t toWrite,
                        std::size_t refused, std::size_t failures) {
    return Format(Tr("%s: files extracted: %zu of %zu; %zu names refused, %zu entries or chunks "
                     "could not be read or written (above)"),
                  Str(file), files, toWrite, refused, failures);
}

} // namespace hh::msg
