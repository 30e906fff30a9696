#include "support/help_file_check.h"

#include "chm/keyword_index.h"
#include "chm/reader.h"
#include "platform/process.h"
#include "support/chm_reader.h"
#include "support/mspack_reader.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace tbx::test {
namespace {

namespace fs = std::filesystem;

bool SiteName(std::string_view name) {
    return name.size() > 1 && name[0] == '/' && name[1] != '#' && name[1] != '$' &&
           !name.ends_with('/');
}

std::set<std::string> SiteNames(const std::vector<std::string>& names) {
    std::set<std::string> site;
    for (const std::string& name : names) {
        if (SiteName(name))
            site.insert(name);
    }
    return site;
}

// The contents and keyword sitemaps hhc makes when the project names none.
bool GeneratedSitemap(std::string_view name) {
    return name.starts_with("/Tomebox") && name.find('/', 1) == std::string_view::npos &&
           (name.ends_with(".hhc") || name.ends_with(".hhk"));
}

// The names that differ between what a reader found and what was expected.
std::string Difference(const std::map<std::string, std::string>& found,
                       const std::map<std::string, std::string>& expected, Others others) {
    std::string text;
    for (const auto& [name, bytes] : found) {
        const auto wanted = expected.find(name);
        if (wanted == expected.end()) {
            if (!GeneratedSitemap(name) && others == Others::Refused)
                text += " extra " + name + ";";
        } else if (wanted->second != bytes)
            text += " different " + name + ";";
    }
    for (const auto& [name, bytes] : expected) {
        if (!found.contains(name))
            text += " missing " + name + ";";
    }
    return text;
}

} // namespace

std::map<std::string, std::string> ReadHelpFile(const std::string& chmPath) {
    std::string error;
    const std::unique_ptr<chm::ChmFile> file = chm::ChmFile::Open(chmPath, error);
    EXPECT_TRUE(file) << chmPath << ": " << error;
    std::map<std::string, std::string> read;
    if (!file)
        return read;
    chm::ChmCursor cursor(*file);
    for (std::size_t i = 0; i < file->Count(); ++i) {
        const chm::ChmEntry entry = file->Entry(i);
        if (entry.name.ends_with('/'))
            continue;
        std::string bytes(static_cast<std::size_t>(entry.length), '\0');
        EXPECT_EQ(
            cursor.Read(entry, 0, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()}),
            "")
            << chmPath << ": " << entry.name;
        read.emplace(entry.name, std::move(bytes));
    }
    return read;
}

std::vector<std::string> HelpKeywords(const std::map<std::string, std::string>& files,
                                      const std::string& part) {
    const auto get = [&](const std::string& name) {
        const auto found = files.find(name);
        return found == files.end() ? std::string() : found->second;
    };
    std::string error;
    const std::optional<chm::KeywordIndexRead> read =
        chm::ReadKeywordIndex(get("/" + part + "/BTree"), &error);
    if (!read)
        return {"unreadable: " + error};
    const std::string topics = get("/#TOPICS"), urltbl = get("/#URLTBL"), urlstr = get("/#URLSTR");
    const auto u32 = [](const std::string& bytes, std::size_t at) -> std::size_t {
        if (at + 4 > bytes.size())
            return bytes.size();
        return static_cast<unsigned char>(bytes[at]) |
               static_cast<unsigned char>(bytes[at + 1]) << 8 |
               static_cast<unsigned char>(bytes[at + 2]) << 16 |
               static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
    };
    const auto url = [&](std::uint32_t topic) {
        const std::size_t at = u32(urltbl, u32(topics, std::size_t{topic} * 16 + 8) + 8) + 8;
        if (at >= urlstr.size())
            return std::string("(no topic ") + std::to_string(topic) + ")";
        return urlstr.substr(at, urlstr.find('\0', at) - at);
    };
    std::vector<std::string> lines;
    for (const chm::IndexKeyword& keyword : read->keywords) {
        std::string line = std::string(2 * keyword.depth, ' ') + keyword.text;
        if (!keyword.seeAlso.empty()) {
            line += " => " + keyword.seeAlso;
        } else {
            line += " ->";
            for (std::size_t i = 0; i < keyword.topics.size(); ++i)
                line += (i ? ", " : " ") + url(keyword.topics[i]);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

namespace {

void ExpectOwnReaderHolds(const std::string& chmPath,
                          const std::map<std::string, std::string>& files, Others others) {
    std::string error;
    const std::unique_ptr<chm::ChmFile> file = chm::ChmFile::Open(chmPath, error);
    ASSERT_TRUE(file) << error;
    EXPECT_TRUE(file->Damage().empty());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < file->Count(); ++i)
        names.emplace_back(file->Entry(i).name);
    chm::ChmCursor cursor(*file);
    std::map<std::string, std::string> read;
    for (const std::string& name : SiteNames(names)) {
        const chm::ChmEntry entry = file->Entry(*file->Find(name));
        std::string bytes(static_cast<std::size_t>(entry.length), '\0');
        EXPECT_EQ(
            cursor.Read(entry, 0, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()}),
            "")
            << name;
        read[name] = std::move(bytes);
    }
    EXPECT_EQ(Difference(read, files, others), "") << "our reader";
}

void ExpectMspackHolds(const std::string& chmPath, const std::map<std::string, std::string>& files,
                       Others others) {
    MspackReader mspack(chmPath);
    ASSERT_TRUE(mspack.Opened());
    std::map<std::string, std::string> listed;
    for (const std::string& name : SiteNames(mspack.Names()))
        listed[name] = mspack.Read(name).value_or("(unreadable)");
    EXPECT_EQ(Difference(listed, files, others), "") << "libmspack's listing";
    for (const auto& [name, bytes] : files) {
        const std::optional<std::string> found = mspack.FindAndRead(name);
        EXPECT_TRUE(found && *found == bytes) << "libmspack's lookup of " << name;
    }
    EXPECT_EQ(mspack.Messages(), std::vector<std::string>{});
}

void ExpectChmlibHolds(const std::string& chmPath, const std::map<std::string, std::string>& files,
                       Others others) {
    const std::set<std::string> names = SiteNames(ChmObjectNames(chmPath));
    const std::vector<std::string> wanted(names.begin(), names.end());
    const std::vector<std::optional<std::string>> bytes = ReadChmObjects(chmPath, wanted);
    std::map<std::string, std::string> read;
    for (std::size_t i = 0; i < wanted.size(); ++i)
        read[wanted[i]] = bytes[i].value_or("(unreadable)");
    EXPECT_EQ(Difference(read, files, others), "") << "chmlib";
}

void Expect7ZipHolds(const std::string& chmPath, const std::map<std::string, std::string>& files,
                     Others others) {
    const TempDir out;
    const ProcessOutcome run = RunProcess("7z", {"x", "-y", "-o" + out.Path().string(), chmPath});
    ASSERT_TRUE(run.exited && run.exitCode == 0) << "7z: " << run.errorOutput;
    std::map<std::string, std::string> read;
    for (const auto& entry : fs::recursive_directory_iterator(out.Path())) {
        const std::string name = "/" + entry.path().lexically_relative(out.Path()).string();
        if (entry.is_regular_file() && SiteName(name))
            read[name] = ReadFile(entry.path());
    }
    EXPECT_EQ(Difference(read, files, others), "") << "7-Zip";
}

} // namespace

void ExpectHelpFileHolds(const std::string& chmPath,
                         const std::map<std::string, std::string>& files, Others others) {
    ExpectOwnReaderHolds(chmPath, files, others);
    ExpectMspackHolds(chmPath, files, others);
    ExpectChmlibHolds(chmPath, files, others);
    Expect7ZipHolds(chmPath, files, others);
}

} // namespace tbx::test
