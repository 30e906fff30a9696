#pragma once
// Reads compiled help files with libmspack, the strictest of the open
// readers: it checks both header GUIDs, the chunk fields and the reset
// table, and its name lookup relies on the quickrefs.

#include <optional>
#include <string>
#include <vector>

struct mschm_decompressor;
struct mschmd_header;
struct mspack_system;

namespace tbx::test {

class MspackReader {
public:
    // Opens the file twice: with the full listing and for name lookups.
    explicit MspackReader(const std::string& chmPath);
    ~MspackReader();
    MspackReader(const MspackReader&) = delete;
    MspackReader& operator=(const MspackReader&) = delete;

    bool Opened() const { return listed_ && indexed_; }
    // Warnings and errors libmspack reported so far.
    const std::vector<std::string>& Messages() const { return messages_; }

    // Every stored file and internal stream of the full listing (folders
    // are not listed by libmspack).
    std::vector<std::string> Names() const;
    // The bytes of a name taken from the full listing.
    std::optional<std::string> Read(const std::string& name);
    // The bytes of a name looked up through the index chunks and quickrefs.
    std::optional<std::string> FindAndRead(const std::string& name);

private:
    std::optional<std::string> Extract(void* file);

    std::string path_;
    mspack_system* system_ = nullptr;
    mschm_decompressor* chmd_ = nullptr;
    mschmd_header* listed_ = nullptr;
    mschmd_header* indexed_ = nullptr;
    std::vector<std::string> messages_;
    std::string extracted_;
};

} // namespace tbx::test
