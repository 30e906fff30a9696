#include "support/mspack_reader.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mspack.h>
#include <new>

namespace tbx::test {
namespace {

// libmspack's messages carry no context, so the reader that is busy points
// these at its own buffers for the length of each call.
thread_local std::vector<std::string>* t_messages = nullptr;
thread_local std::string* t_output = nullptr;

struct Handle {
    std::FILE* file = nullptr;   // reading the help file
    std::string* sink = nullptr; // or collecting an extracted file
};

mspack_file* OpenFile(mspack_system*, const char* name, int mode) {
    if (mode == MSPACK_SYS_OPEN_WRITE)
        return reinterpret_cast<mspack_file*>(new Handle{nullptr, t_output});
    if (mode != MSPACK_SYS_OPEN_READ)
        return nullptr;
    std::FILE* file = std::fopen(name, "rb");
    return file ? reinterpret_cast<mspack_file*>(new Handle{file, nullptr}) : nullptr;
}

void CloseFile(mspack_file* f) {
    auto* h = reinterpret_cast<Handle*>(f);
    if (h->file)
        std::fclose(h->file);
    delete h;
}

int ReadFile(mspack_file* f, void* buffer, int bytes) {
    auto* h = reinterpret_cast<Handle*>(f);
    if (!h->file || bytes < 0)
        return -1;
    const std::size_t got = std::fread(buffer, 1, static_cast<std::size_t>(bytes), h->file);
    return std::ferror(h->file) ? -1 : static_cast<int>(got);
}

int WriteFile(mspack_file* f, void* buffer, int bytes) {
    auto* h = reinterpret_cast<Handle*>(f);
    if (!h->sink || bytes < 0)
        return -1;
    h->sink->append(static_cast<const char*>(buffer), static_cast<std::size_t>(bytes));
    return bytes;
}

int SeekFile(mspack_file* f, off_t offset, int mode) {
    auto* h = reinterpret_cast<Handle*>(f);
    const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
                       : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                                                     : SEEK_END;
    return h->file && fseeko(h->file, offset, whence) == 0 ? 0 : -1;
}

off_t TellFile(mspack_file* f) {
    auto* h = reinterpret_cast<Handle*>(f);
    return h->file ? ftello(h->file) : -1;
}

void Message(mspack_file*, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (t_messages)
        t_messages->push_back(text);
}

void* Alloc(mspack_system*, std::size_t bytes) {
    return ::operator new(bytes, std::nothrow);
}

void Free(void* p) {
    ::operator delete(p);
}

void Copy(void* from, void* to, std::size_t bytes) {
    std::memmove(to, from, bytes);
}

// Points the callbacks at one reader for the length of a call.
class Busy {
public:
    Busy(std::vector<std::string>& messages, std::string& output) {
        t_messages = &messages;
        t_output = &output;
    }
    ~Busy() {
        t_messages = nullptr;
        t_output = nullptr;
    }
};

mschmd_file* FindInList(mschmd_file* file, const std::string& name) {
    for (; file; file = file->next)
        if (name == file->filename)
            return file;
    return nullptr;
}

} // namespace

MspackReader::MspackReader(const std::string& chmPath) : path_(chmPath) {
    system_ = new mspack_system{OpenFile, CloseFile, ReadFile, WriteFile, SeekFile, TellFile,
                                Message,  Alloc,     Free,     Copy,      nullptr};
    Busy busy(messages_, extracted_);
    chmd_ = mspack_create_chm_decompressor(system_);
    if (!chmd_)
        return;
    listed_ = chmd_->open(chmd_, path_.c_str());
    indexed_ = chmd_->fast_open(chmd_, path_.c_str());
    if (!listed_ || !indexed_)
        messages_.push_back("cannot open: error " + std::to_string(chmd_->last_error(chmd_)));
}

MspackReader::~MspackReader() {
    if (chmd_) {
        if (listed_)
            chmd_->close(chmd_, listed_);
        if (indexed_)
            chmd_->close(chmd_, indexed_);
        mspack_destroy_chm_decompressor(chmd_);
    }
    delete system_;
}

std::vector<std::string> MspackReader::Names() const {
    std::vector<std::string> names;
    if (listed_)
        for (mschmd_file* list : {listed_->files, listed_->sysfiles})
            for (mschmd_file* file = list; file; file = file->next)
                names.push_back(file->filename);
    return names;
}

std::optional<std::string> MspackReader::Extract(void* file) {
    Busy busy(messages_, extracted_);
    extracted_.clear();
    if (chmd_->extract(chmd_, static_cast<mschmd_file*>(file), "memory") != MSPACK_ERR_OK)
        return std::nullopt;
    return std::move(extracted_);
}

std::optional<std::string> MspackReader::Read(const std::string& name) {
    if (!listed_)
        return std::nullopt;
    mschmd_file* file = FindInList(listed_->files, name);
    if (!file)
        file = FindInList(listed_->sysfiles, name);
    if (!file)
        return std::nullopt;
    return Extract(file);
}

std::optional<std::string> MspackReader::FindAndRead(const std::string& name) {
    if (!indexed_)
        return std::nullopt;
    mschmd_file found{};
    {
        Busy busy(messages_, extracted_);
        if (chmd_->fast_find(chmd_, indexed_, name.c_str(), &found, sizeof found) !=
                MSPACK_ERR_OK ||
            !found.section)
            return std::nullopt;
    }
    found.filename = const_cast<char*>(name.c_str());
    return Extract(&found);
}

} // namespace tbx::test
