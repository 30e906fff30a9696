#include "chm/internal_files.h"

#include "chm/little_endian.h"
#include "text/charset.h"
#include "text/language.h"
#include "text/text_case.h"

#include <algorithm>
#include <array>
#include <map>
#include <numeric>

namespace tbx::chm {
namespace {

// ---- Bytes ------------------------------------------------------------------

// A stored name as the help-level files write it: without the leading "/".
std::string_view Local(std::string_view name) {
    return name.starts_with('/') ? name.substr(1) : name;
}

// ---- Code pages --------------------------------------------------------------

// The help file's texts in the code page; a character it cannot hold takes
// its nearest form (the viewer has no way to show it as it is).
std::string EncodeForCodePage(std::string_view utf8, int codePage) {
    return text::Encode(utf8, codePage, text::Unmappable::Nearest);
}

// ---- #STRINGS -------------------------------------------------------------------

// Zero-terminated texts in the code page; offset 0 is the empty text. A
// viewer reads one 4 KiB block at a time, so no text may cross a block's end.
class StringTable {
public:
    explicit StringTable(int codePage) : codePage_(codePage) {}

    std::uint32_t Add(std::string_view utf8) {
        if (utf8.empty())
            return 0;
        std::string text = EncodeForCodePage(utf8, codePage_);
        // A zero inside would cut the text short for every reader.
        text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
        if (text.empty())
            return 0;
        if (const auto known = offsets_.find(text); known != offsets_.end())
            return known->second;
        const std::size_t length = text.size() + 1;
        const std::size_t room = kStringBlockSize - bytes_.size() % kStringBlockSize;
        if (length > room && length <= kStringBlockSize)
            bytes_.append(room, '\0');
        const auto offset = static_cast<std::uint32_t>(bytes_.size());
        bytes_ += text;
        bytes_ += '\0';
        offsets_.emplace(std::move(text), offset);
        return offset;
    }

    std::string Take() { return std::move(bytes_); }

private:
    int codePage_;
    std::string bytes_ = std::string(1, '\0');
    std::map<std::string, std::uint32_t> offsets_;
};

// ---- #SYSTEM ---------------------------------------------------------------------

void PutRecord(std::string& out, std::uint16_t code, std::string_view data) {
    // A record's length is 16 bits; no sane text comes near it.
    data = data.substr(0, 0xFFFF);
    AppendLe16(out, code);
    AppendLe16(out, data.size());
    out += data;
}

void PutTextRecord(std::string& out, std::uint16_t code, std::string_view utf8, int codePage) {
    std::string text = EncodeForCodePage(utf8, codePage).substr(0, 0xFFFE);
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    text += '\0';
    PutRecord(out, code, text);
}

// Seconds since 1970 as the 100-nanosecond ticks since 1601 that Windows uses.
std::uint64_t FileTime(std::int64_t unixSeconds) {
    constexpr std::int64_t kEpochDifference = 11644473600;
    return static_cast<std::uint64_t>(std::max<std::int64_t>(0, unixSeconds + kEpochDifference)) *
           10000000u;
}

// The "Compiled file" record holds the lower-case stem of the file's name.
std::string CompiledStem(std::string_view path) {
    const auto slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (const auto dot = name.rfind('.'); dot != std::string_view::npos)
        name = name.substr(0, dot);
    return ToLowerCase(name);
}

std::string Dword(std::uint32_t value) {
    std::string bytes;
    AppendLe32(bytes, value);
    return bytes;
}

// The records in the order Microsoft's compiler writes them.
std::string SystemFile(const HelpModel& model, const std::string& idxhdr, int codePage) {
    std::string out;
    AppendLe32(out, 3); // version 3: compatible with 1.1 and later
    std::string stamp;
    AppendLe32(stamp, static_cast<std::uint32_t>(model.timestamp));
    PutRecord(out, 10, stamp);
    PutTextRecord(out, 9, model.compilerVersion, codePage);

    std::string settings;
    AppendLe32(settings, model.language);
    AppendLe32(settings, 0); // no double-byte characters
    AppendLe32(settings, model.fullTextSearch ? 1 : 0);
    AppendLe32(settings, model.keywordLinks ? 1 : 0);
    AppendLe32(settings, model.associativeLinks ? 1 : 0);
    AppendLe64(settings, FileTime(model.timestamp));
    AppendLe32(settings, 0);
    AppendLe32(settings, 0);
    PutRecord(out, kSystemSettings, settings);

    // A project without a default topic has none recorded: the viewer
    // opens the window's file then.
    if (!model.defaultTopic.empty())
        PutTextRecord(out, kSystemDefaultTopic, Local(model.defaultTopic), codePage);
    PutTextRecord(out, kSystemTitle, model.title, codePage);
    if (!model.defaultFont.empty())
        PutTextRecord(out, 16, model.defaultFont, codePage);
    PutTextRecord(out, 6, CompiledStem(model.compiledFile), codePage);
    if (!model.defaultWindow.empty())
        PutTextRecord(out, 5, model.defaultWindow, codePage);
    if (!model.contentsFile.empty())
        PutTextRecord(out, 0, Local(model.contentsFile), codePage);
    if (!model.indexFile.empty())
        PutTextRecord(out, 1, Local(model.indexFile), codePage);
    // The index file's #URLTBL hash, as Microsoft's compiler records it.
    if (model.binaryIndex && !model.indexFile.empty())
        PutRecord(out, 7, Dword(UrlHash(EncodeForCodePage(Local(model.indexFile), codePage))));
    PutRecord(out, 12, Dword(0)); // no information types
    PutRecord(out, 13, idxhdr);
    PutRecord(out, 15, Dword(0)); // their checksum
    return out;
}

// ---- #WINDOWS ----------------------------------------------------------------------

// Bits saying which optional fields of a window record hold a value.
constexpr std::uint32_t kValidProperties = 0x2;
constexpr std::uint32_t kValidStyles = 0x4;
constexpr std::uint32_t kValidExStyles = 0x8;
constexpr std::uint32_t kValidRect = 0x10;
constexpr std::uint32_t kValidNavWidth = 0x20;
constexpr std::uint32_t kValidShowState = 0x40;
constexpr std::uint32_t kValidButtons = 0x100;
constexpr std::uint32_t kValidExpansion = 0x200;
constexpr std::uint32_t kValidTabPosition = 0x400;
constexpr std::uint32_t kValidCurrentTab = 0x2000;

// A navigation width that is not positive counts as not given: the viewer
// takes a valid width of 0 at its word and hides the pane for good.
bool HasNavWidth(const HelpWindow& w) {
    return w.navWidth.value_or(0) > 0;
}

std::uint32_t ValidMembers(const HelpWindow& w) {
    std::uint32_t valid = 0;
    const std::pair<bool, std::uint32_t> fields[] = {
        {w.properties.has_value(), kValidProperties},
        {w.styles.has_value(), kValidStyles},
        {w.exStyles.has_value(), kValidExStyles},
        {w.rect.has_value(), kValidRect},
        {HasNavWidth(w), kValidNavWidth},
        {w.showState.has_value(), kValidShowState},
        {w.buttons.has_value(), kValidButtons},
        {w.navClosed.has_value(), kValidExpansion},
        {w.tabPosition.has_value(), kValidTabPosition},
        {w.defaultTab.has_value(), kValidCurrentTab},
    };
    for (const auto& [set, bit] : fields)
        valid |= set ? bit : 0;
    return valid;
}

std::string WindowRecord(const HelpWindow& w, StringTable& strings) {
    const auto number = [](const std::optional<std::int64_t>& value) {
        return static_cast<std::uint32_t>(value.value_or(0));
    };
    const WindowRect rect = w.rect.value_or(WindowRect{});
    std::string r;
    AppendLe32(r, kWindowRecordSize);
    AppendLe32(r, 0); // texts are ANSI, not Unicode
    AppendLe32(r, strings.Add(w.name));
    AppendLe32(r, ValidMembers(w));
    AppendLe32(r, number(w.properties));
    AppendLe32(r, strings.Add(w.caption));
    AppendLe32(r, number(w.styles));
    AppendLe32(r, number(w.exStyles));
    for (std::int32_t side : {rect.left, rect.top, rect.right, rect.bottom})
        AppendLe32(r, static_cast<std::uint32_t>(side));
    AppendLe32(r, number(w.showState));
    r.append(6 * 4, '\0'); // window handles, known only at run time
    AppendLe32(r, HasNavWidth(w) ? number(w.navWidth) : 0);
    r.append(4 * 4, '\0'); // the topic pane's rectangle
    AppendLe32(r, strings.Add(w.contentsFile));
    AppendLe32(r, strings.Add(w.indexFile));
    AppendLe32(r, strings.Add(w.defaultFile));
    AppendLe32(r, strings.Add(w.homeFile));
    AppendLe32(r, number(w.buttons));
    AppendLe32(r, number(w.navClosed));
    AppendLe32(r, number(w.defaultTab));
    AppendLe32(r, number(w.tabPosition));
    AppendLe32(r, number(w.notifyId));
    r.append(20, '\0'); // tab order
    AppendLe32(r, 0);   // history entries kept
    AppendLe32(r, strings.Add(w.jump1Text));
    AppendLe32(r, strings.Add(w.jump2Text));
    AppendLe32(r, strings.Add(w.jump1Url));
    AppendLe32(r, strings.Add(w.jump2Url));
    r.append(4 * 4, '\0'); // smallest window rectangle
    AppendLe32(r, 0);      // information types
    AppendLe32(r, 0);      // custom tabs
    return r;
}

// ---- #TOPICS, #URLTBL, #URLSTR ------------------------------------------------------

constexpr std::size_t kUrlTableEntriesPerBlock = kStringBlockSize / kUrlTableEntrySize; // 341

std::size_t UrlTableOffset(std::size_t index) {
    return index / kUrlTableEntriesPerBlock * kStringBlockSize +
           index % kUrlTableEntriesPerBlock * kUrlTableEntrySize;
}

struct TopicTables {
    std::string topics, urltbl, urlstr;
};

TopicTables BuildTopicTables(const std::vector<HelpTopic>& topics, StringTable& strings,
                             int codePage) {
    TopicTables out;
    out.urlstr.assign(1, '\0');
    std::vector<std::uint32_t> urlstrAt(topics.size()), hashes(topics.size());
    for (std::size_t i = 0; i < topics.size(); ++i) {
        std::string local = EncodeForCodePage(Local(topics[i].name), codePage);
        hashes[i] = UrlHash(local);
        // No entry may cross a 4 KiB block, like the other tables.
        const std::size_t length = 8 + local.size() + 1;
        const std::size_t room = kStringBlockSize - out.urlstr.size() % kStringBlockSize;
        if (length > room && length <= kStringBlockSize)
            out.urlstr.append(room, '\0');
        urlstrAt[i] = static_cast<std::uint32_t>(out.urlstr.size());
        AppendLe32(out.urlstr, 0); // no outside address
        AppendLe32(out.urlstr, 0); // no frame name
        out.urlstr += local;
        out.urlstr += '\0';
    }

    std::vector<std::size_t> order(topics.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return hashes[a] < hashes[b]; });
    std::vector<std::uint32_t> urltblAt(topics.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t topic = order[k];
        urltblAt[topic] = static_cast<std::uint32_t>(UrlTableOffset(k));
        AppendLe32(out.urltbl, hashes[topic]);
        AppendLe32(out.urltbl, topic);
        AppendLe32(out.urltbl, urlstrAt[topic]);
        // Each full block of 341 entries is padded to 4 KiB.
        if ((k + 1) % kUrlTableEntriesPerBlock == 0)
            out.urltbl.append(kStringBlockSize - kUrlTableEntriesPerBlock * kUrlTableEntrySize,
                              '\0');
    }

    for (std::size_t i = 0; i < topics.size(); ++i) {
        AppendLe32(out.topics, 0); // no binary contents entry
        AppendLe32(out.topics, topics[i].title ? strings.Add(*topics[i].title) : 0xFFFFFFFFu);
        AppendLe32(out.topics, urltblAt[i]);
        AppendLe16(out.topics, topics[i].inContents ? kTopicInContents : kTopicNotInContents);
        AppendLe16(out.topics, 0);
    }
    return out;
}

// ---- #IDXHDR, #IVB -------------------------------------------------------------------

constexpr std::uint32_t kNoValue = 0xFFFFFFFFu;

std::uint32_t StringOrNone(StringTable& strings, std::string_view utf8) {
    const std::uint32_t offset = strings.Add(utf8);
    return offset == 0 ? kNoValue : offset;
}

std::string IdxHdrFile(const HelpModel& model, StringTable& strings) {
    const SitemapProperties& p = model.contentsProperties;
    std::string out = "T#SM";
    AppendLe32(out, static_cast<std::uint32_t>(model.timestamp));
    AppendLe32(out, 1);
    AppendLe32(out, model.topics.size());
    AppendLe32(out, 0);
    AppendLe32(out, StringOrNone(strings, p.imageList));
    AppendLe32(out, 0);
    AppendLe32(out, p.folderImages ? 1 : 0);
    AppendLe32(out, p.background.value_or(kNoValue));
    AppendLe32(out, p.foreground.value_or(kNoValue));
    AppendLe32(out, StringOrNone(strings, p.font));
    AppendLe32(out, p.windowStyles.value_or(kNoValue));
    AppendLe32(out, p.exWindowStyles.value_or(kNoValue));
    AppendLe32(out, kNoValue);
    AppendLe32(out, StringOrNone(strings, p.frameName));
    AppendLe32(out, StringOrNone(strings, p.windowName));
    AppendLe32(out, 0); // information types
    AppendLe32(out, 1);
    const std::size_t merged = std::min(model.mergeFiles.size(), kMaxMergeFiles);
    AppendLe32(out, merged);
    AppendLe32(out, 0);
    for (std::size_t i = 0; i < merged; ++i)
        AppendLe32(out, strings.Add(model.mergeFiles[i]));
    out.resize(kIdxHdrSize, '\0');
    return out;
}

// The byte length of the pairs, then each id with the file it opens.
std::string IvbFile(const std::vector<HelpContextId>& ids, StringTable& strings) {
    if (ids.empty())
        return {};
    std::string out;
    AppendLe32(out, ids.size() * 8);
    for (const HelpContextId& id : ids) {
        AppendLe32(out, id.id);
        AppendLe32(out, strings.Add(id.target));
    }
    return out;
}

} // namespace

std::uint32_t UrlHash(std::string_view url) {
    std::uint32_t hash = 0;
    for (char c : url) {
        // Each byte, taken as signed, adds a value of its own; the sum wraps.
        const int byte = static_cast<signed char>(c);
        const int value = c == '/' ? 0x2C : byte <= 'Z' ? byte - 0x30 : byte - 0x50;
        hash = hash * 43u + static_cast<std::uint32_t>(value);
    }
    return hash == 0 ? 1 : hash; // 0 is kept for "no hash"
}

HelpFiles BuildHelpFiles(const HelpModel& model) {
    const int codePage = text::AnsiCodePage(model.language);
    StringTable strings(codePage);
    HelpFiles files;
    // #STRINGS in Microsoft's order: windows, context ids, titles, then
    // what #IDXHDR names; #SYSTEM holds #IDXHDR, so it comes last.
    AppendLe32(files.windows, model.windows.size());
    AppendLe32(files.windows, kWindowRecordSize);
    for (const HelpWindow& window : model.windows)
        files.windows += WindowRecord(window, strings);
    files.ivb = IvbFile(model.contextIds, strings);

    TopicTables tables = BuildTopicTables(model.topics, strings, codePage);
    files.topics = std::move(tables.topics);
    files.urltbl = std::move(tables.urltbl);
    files.urlstr = std::move(tables.urlstr);
    files.idxhdr = IdxHdrFile(model, strings);
    files.system = SystemFile(model, files.idxhdr, codePage);
    files.strings = strings.Take();
    return files;
}

std::vector<SystemRecord> ReadSystemRecords(std::string_view system) {
    std::vector<SystemRecord> records;
    for (std::size_t at = 4; at + 4 <= system.size();) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(system.data() + at);
        const std::uint16_t code = GetLe16(bytes);
        const std::size_t length = GetLe16(bytes + 2);
        if (length > system.size() - at - 4)
            break;
        records.push_back({code, system.substr(at + 4, length)});
        at += 4 + length;
    }
    return records;
}

} // namespace tbx::chm
