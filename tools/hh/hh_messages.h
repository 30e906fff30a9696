#pragma once
// Every text hh prints, in one place. A stored name is outside input: it
// comes here escaped (EscapeForLine), never raw.

#include <cstddef>
#include <string>
#include <string_view>

namespace hh::msg {

inline std::string Str(std::string_view text) {
    return std::string(text);
}

inline std::string Refused(std::string_view name) {
    return "refused, would land outside the output folder: " + Str(name);
}
inline std::string NotRooted(std::string_view name) {
    return "not extracted, the name does not start with \"/\", so it is no file of the help "
           "file's folder tree: " +
           Str(name);
}
inline std::string StoredTwice(std::string_view name) {
    return Str(name) + ": stored more than once; only its first entry is extracted";
}
inline std::string Problem(std::string_view name, std::string_view why) {
    return Str(name) + ": " + Str(why);
}
inline std::string OutOfMemory() {
    return "out of memory";
}

// Why one file or folder could not be had; name is the part of the path.
inline std::string CannotCreateFolder(std::string_view name, std::string_view error) {
    return "cannot create folder " + Str(name) + ": " + Str(error);
}
inline std::string CannotOpenFolder(std::string_view name, std::string_view error) {
    return "cannot open folder " + Str(name) + ": " + Str(error);
}
inline std::string LinkOnTheWay(std::string_view name) {
    return "symbolic link on the way: " + Str(name);
}
inline std::string CannotCreate(std::string_view name, std::string_view error) {
    return "cannot create " + Str(name) + ": " + Str(error);
}
inline std::string CannotWrite(std::string_view name, std::string_view error) {
    return "cannot write " + Str(name) + ": " + Str(error);
}
inline std::string CannotRead(std::string_view name, std::string_view error) {
    return "damaged content, cannot read " + Str(name) + ": " + Str(error);
}
// kind: "a FIFO", "a device", "a socket".
inline std::string NotReplaced(std::string_view name, std::string_view kind) {
    return "not replaced: " + Str(name) + " is " + Str(kind) + ", not a file";
}

// The closing lines of main.
inline std::string HeaderChainShort(std::string_view file, unsigned long long entries) {
    return Str(file) + ": the header's directory chain lists only " + std::to_string(entries) +
           " entries; every listing chunk was read instead";
}
inline std::string Stopped(std::size_t files) {
    return "stopped after " + std::to_string(files) + " files";
}
inline std::string Lost(std::string_view file, std::size_t files, std::size_t toWrite,
                        std::size_t refused, std::size_t failures) {
    return Str(file) + ": files extracted: " + std::to_string(files) + " of " +
           std::to_string(toWrite) + "; " + std::to_string(refused) + " names refused, " +
           std::to_string(failures) + " entries or chunks could not be read or written (above)";
}

} // namespace hh::msg
