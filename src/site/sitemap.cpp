#include "site/sitemap.h"

#include "site/context_ids.h"
#include "site/link_scanner.h"
#include "site/sitemap_reader.h"
#include "text/ascii.h"
#include "text/charset.h"
#include "text/collation.h"
#include "text/html_escape.h"
#include "text/language.h"
#include "text/text_case.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

namespace tbx::site {
namespace {

using text::EqualsAsciiNoCase;
using text::TrimHtmlSpace;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Lists nested deeper than this are not held apart: the tree stays within
// what a viewer shows, its readers may recurse, and a page of endless <ul>
// costs no memory for them.
constexpr std::size_t kMaxDepth = 64;

bool IsAnyOf(const MarkupTag& tag, std::initializer_list<std::string_view> lowerNames) {
    return std::any_of(lowerNames.begin(), lowerNames.end(),
                       [&](std::string_view name) { return tag.Is(name); });
}

// Tags that end an <a> left open: the next link, and the blocks and list
// items it cannot reach across.
bool EndsLinkText(const MarkupTag& tag) {
    return IsAnyOf(tag, {"a",  "li", "ul",  "ol", "dl", "dt", "dd", "table", "tr", "td",
                         "th", "p",  "div", "h1", "h2", "h3", "h4", "h5",    "h6", "body"});
}

// "[page.htm]" or "page.htm" names a file, not its content.
bool NamesTheFile(std::string_view text, std::string_view path) {
    if (text.size() >= 2 && ((text.front() == '[' && text.back() == ']') ||
                             (text.front() == '(' && text.back() == ')')))
        text = text.substr(1, text.size() - 2);
    const std::string_view file = path.substr(path.rfind('/') + 1);
    return EqualNoCase(text, path) || EqualNoCase(text, file);
}

// Elements that hold nothing, so a class on them opens no block.
bool IsVoidElement(const MarkupTag& tag) {
    return IsAnyOf(tag, {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
                         "param", "source", "track", "wbr"});
}

bool HasClass(const MarkupTag& tag, std::initializer_list<std::string_view> names) {
    const TagAttribute* attribute = tag.Find("class");
    if (!attribute)
        return false;
    const std::string_view classes = attribute->value;
    for (std::size_t at = 0; at < classes.size();) {
        const std::size_t start = classes.find_first_not_of(" \t\r\n\f", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(classes.find_first_of(" \t\r\n\f", start), classes.size());
        const std::string_view word = classes.substr(start, end - start);
        if (std::any_of(names.begin(), names.end(), [&](std::string_view n) { return word == n; }))
            return true;
        at = end;
    }
    return false;
}

// A block whose links lead around the site rather than list it: <nav>,
// role="navigation", a page's header and footer, and Sphinx's bars
// ("related" above and below the text, "sphinxsidebar" beside it).
bool OpensNavigation(const MarkupTag& tag) {
    if (tag.closing || IsVoidElement(tag))
        return false;
    if (IsAnyOf(tag, {"nav", "header", "footer"}))
        return true;
    if (const TagAttribute* role = tag.Find("role"); role && EqualNoCase(role->value, "navigation"))
        return true;
    return HasClass(tag, {"related", "sphinxsidebar", "footer"});
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "12. Title" -> "Title": the number the index window puts before a title.
std::string DropItemNumber(std::string text) {
    std::size_t i = 0;
    while (i < text.size() && IsDigit(text[i]))
        ++i;
    if (i > 0 && i < text.size() && (text[i] == '.' || text[i] == ')') &&
        (i + 1 == text.size() || text[i + 1] == ' '))
        text.erase(0, std::min(i + 2, text.size()));
    return text;
}

// The index in the walk of the file reached by the link whose text is this
// view into the file's bytes, or kNone.
std::size_t ReachedAt(const SiteFile& file, std::size_t offset) {
    const auto found = std::lower_bound(
        file.reached.begin(), file.reached.end(), offset,
        [](const ReachedFile& reached, std::size_t at) { return reached.offset < at; });
    return found == file.reached.end() || found->offset != offset ? kNone : found->file;
}

std::size_t ReachedBy(const SiteFile& file, std::string_view link) {
    return ReachedAt(file, static_cast<std::size_t>(link.data() - file.bytes.data()));
}

class ContentsBuilder final : public MarkupVisitor {
public:
    ContentsBuilder(const SiteWalk& walk, const SiteFile& page) : walk_(walk), page_(page) {}

    void OnTag(const MarkupTag& tag) override {
        if (EndsLinkText(tag))
            EndLink();
        TrackNavigation(tag);
        if (tag.Is("ul") || tag.Is("ol")) {
            separated_ = true;
            if (tag.closing)
                CloseList(tag.Is("ol"));
            else
                OpenList(tag.Is("ol"));
        } else if (tag.Is("li") && !tag.closing) {
            // A new item: its first link owns the lists nested in it. The
            // item's state lasts past "</li>", so a list written right after
            // the item still belongs to it.
            separated_ = true;
            levels_.back().itemEntry = kNone;
            levels_.back().itemText.clear();
        } else if (tag.Is("tr") || tag.Is("table")) {
            separated_ = true;
            inRow_ = tag.Is("tr") && !tag.closing;
            rowText_.clear();
        } else if (tag.Is("br")) {
            OnText(" ");
        } else if (tag.Is("a") && !tag.closing) {
            if (const TagAttribute* href = tag.Find("href"))
                link_ = Link{
                    true, href->value, {}, inRow_ ? rowText_ : std::string(), !navigation_.empty()};
        }
    }

    void OnText(std::string_view text) override {
        if (link_.open) {
            link_.text += text;
        } else {
            if (inRow_)
                rowText_ += text;
            if (!separated_ && !PlainText(text, page_.charset).empty())
                separated_ = true;
        }
        if (levels_.size() > 1)
            levels_.back().itemText += text;
    }

    std::vector<SitemapEntry> Finish() {
        EndLink();
        LeaveOutRepeats();
        // A parent always comes before its children, so the tree is put
        // together from the end without recursion.
        std::vector<SitemapEntry> top;
        for (std::size_t i = nodes_.size(); i-- > 0;) {
            if (nodes_[i].left)
                continue;
            SitemapEntry& entry = nodes_[i].entry;
            std::reverse(entry.children.begin(), entry.children.end());
            if (entry.local.empty() && entry.children.empty())
                continue; // a heading over no page
            const std::size_t parent = nodes_[i].parent;
            (parent == kNone ? top : nodes_[parent].entry.children).push_back(std::move(entry));
        }
        std::reverse(top.begin(), top.end());
        return top;
    }

private:
    struct Node {
        SitemapEntry entry; // its children gathered in Finish
        std::size_t parent = kNone;
        int nameRank = 0; // 2: its link's text, 1: its table row, 0: a title or a heading
        bool inNavigation = false;
        bool left = false; // left out of the tree; its children go to its stand-in
    };

    // The page itself, then each list open around the current place.
    struct Level {
        bool ordered = false;
        std::size_t parent = kNone;    // the node its entries go under
        std::size_t itemEntry = kNone; // the first node of its current item
        std::string itemText;          // the current item's text, as written
    };

    struct Link {
        bool open = false;
        std::string_view href;
        std::string text;      // as written
        std::string rowBefore; // the text of its table row before it, as written
        bool inNavigation = false;
    };

    // The element blocks of navigation open around the current place, each
    // with how many elements of its name are open in it (itself included).
    struct NavigationBlock {
        std::string name; // lower case
        int open = 1;
    };

    void TrackNavigation(const MarkupTag& tag) {
        if (tag.Is("body") || tag.Is("html")) {
            if (tag.closing)
                navigation_.clear();
            return;
        }
        for (auto block = navigation_.rbegin(); block != navigation_.rend(); ++block) {
            if (!tag.Is(block->name))
                continue;
            if (!tag.closing)
                ++block->open;
            else if (--block->open == 0)
                navigation_.erase(std::next(block).base());
            return;
        }
        if (OpensNavigation(tag))
            navigation_.push_back({ToLowerCase(tag.name)});
    }

    // Each target once, where it first stands; links of navigation only when
    // the page lists nothing else. The children of an entry left out go to
    // the entry that stands for it: the first of its target, or its parent.
    void LeaveOutRepeats() {
        const bool listsMore = std::any_of(nodes_.begin(), nodes_.end(), [](const Node& node) {
            return !node.inNavigation && !node.entry.local.empty();
        });
        std::map<std::pair<std::string, std::string>, std::size_t> first;
        std::vector<std::size_t> standIn(nodes_.size(), kNone);
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            Node& node = nodes_[i];
            if (node.parent != kNone)
                node.parent = standIn[node.parent];
            standIn[i] = i;
            if (node.inNavigation && listsMore) {
                node.left = true;
                standIn[i] = node.parent;
            } else if (!node.entry.local.empty()) {
                const auto [found, fresh] =
                    first.try_emplace({node.entry.local, node.entry.fragment}, i);
                if (!fresh) {
                    node.left = true;
                    standIn[i] = found->second;
                }
            }
        }
    }

    void OpenList(bool ordered) {
        if (levels_.size() > kMaxDepth) {
            ++unheldLists_;
            return;
        }
        std::size_t parent = kNone;
        if (levels_.size() > 1) {
            Level& outer = levels_.back();
            if (outer.itemEntry == kNone) {
                // An item with text but no link to a page heads the list.
                std::string heading = PlainText(outer.itemText, page_.charset);
                if (!heading.empty()) {
                    outer.itemEntry = nodes_.size();
                    nodes_.push_back(
                        {{std::move(heading), {}, {}, {}}, outer.parent, 0, !navigation_.empty()});
                }
            }
            parent = outer.itemEntry != kNone ? outer.itemEntry : outer.parent;
        }
        levels_.push_back({ordered, parent, kNone, {}});
    }

    // Closes the innermost list of that kind and whatever is open inside
    // it; an end tag with no such list open is ignored.
    void CloseList(bool ordered) {
        if (unheldLists_ > 0) {
            --unheldLists_;
            return;
        }
        for (std::size_t i = levels_.size(); i-- > 1;) {
            if (levels_[i].ordered == ordered) {
                levels_.resize(i);
                return;
            }
        }
    }

    void EndLink() {
        if (!link_.open)
            return;
        const Link link = std::move(link_);
        link_ = Link{};
        rowText_.clear(); // the next link of the row is named by what follows this one
        const SiteFile* target = Reached(link.href);
        if (!target || target->kind != FileKind::Page) {
            if (!PlainText(link.text, page_.charset).empty())
                separated_ = true;
            return;
        }
        const LinkTarget address = DecodeLink({link.href, LinkContext::Attribute}, page_.charset);
        Node node;
        node.entry.local = target->name.substr(1);
        node.entry.fragment = address.fragment;
        node.parent = levels_.back().parent;
        node.inNavigation = link.inNavigation;
        std::string text = PlainText(link.text, page_.charset);
        std::string row = DropItemNumber(PlainText(link.rowBefore, page_.charset));
        if (!text.empty() && !NamesTheFile(text, address.path)) {
            node.entry.name = std::move(text);
            node.nameRank = 2;
        } else if (!row.empty()) {
            node.entry.name = std::move(row);
            node.nameRank = 1;
        } else {
            node.entry.name = target->title;
        }
        Add(std::move(node));
    }

    const SiteFile* Reached(std::string_view href) const {
        const std::size_t file = ReachedBy(page_, href);
        return file == kNone ? nullptr : &walk_.files[file];
    }

    void Add(Node node) {
        if (!separated_ && lastNode_ != kNone) {
            Node& last = nodes_[lastNode_];
            if (last.parent == node.parent && last.inNavigation == node.inNavigation &&
                last.entry.local == node.entry.local &&
                last.entry.fragment == node.entry.fragment) {
                if (node.nameRank > last.nameRank) {
                    last.entry.name = std::move(node.entry.name);
                    last.nameRank = node.nameRank;
                }
                return;
            }
        }
        lastNode_ = nodes_.size();
        nodes_.push_back(std::move(node));
        separated_ = false;
        if (levels_.back().itemEntry == kNone)
            levels_.back().itemEntry = lastNode_;
    }

    const SiteWalk& walk_;
    const SiteFile& page_;
    std::vector<Node> nodes_;
    std::vector<Level> levels_{Level{}};
    std::size_t unheldLists_ = 0; // opened beyond kMaxDepth and not closed yet
    Link link_;
    bool inRow_ = false;
    std::string rowText_; // text of the current table row since its last link, as written
    std::vector<NavigationBlock> navigation_;
    // Whether anything but white space and tags stood since the last entry.
    bool separated_ = true;
    std::size_t lastNode_ = kNone;
};

// ---- Reading --------------------------------------------------------------------

// The <OBJECT>s of a sitemap with their <param>s, values as views into its bytes.
struct SitemapObject {
    std::string_view type;
    std::vector<std::pair<std::string_view, std::string_view>> params; // name, value
};

class ObjectReader final : public MarkupVisitor {
public:
    void OnTag(const MarkupTag& tag) override {
        if (tag.Is("object")) {
            open_ = !tag.closing;
            if (open_) {
                const TagAttribute* type = tag.Find("type");
                objects.push_back({type ? TrimHtmlSpace(type->value) : std::string_view(), {}});
            }
        } else if (tag.Is("param") && open_) {
            const TagAttribute* name = tag.Find("name");
            const TagAttribute* value = tag.Find("value");
            if (name && value)
                objects.back().params.emplace_back(TrimHtmlSpace(name->value), value->value);
        }
    }

    std::vector<SitemapObject> objects;

private:
    bool open_ = false;
};

std::vector<SitemapObject> ReadObjects(const SiteFile& sitemap) {
    ObjectReader reader;
    // A UTF-16 file's bytes are not markup as they stand.
    if (!sitemap.charset.IsUtf16())
        ScanMarkup(sitemap.bytes, reader);
    return std::move(reader.objects);
}

// Whether the byte starts a character of two bytes (or four) in a code page
// where the second byte may be 0x5C, which is no backslash there.
bool LeadsPair(Charset charset, unsigned char byte) {
    const std::string_view name = charset.Name();
    if (name == "Shift_JIS") // 0xA1-0xDF are characters of one byte
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    return (name == "GBK" || name == "gb18030" || name == "Big5") && byte >= 0x81 && byte <= 0xFE;
}

// ---- Writing --------------------------------------------------------------------

// UTF-8 in the code page, with a character reference for a character the
// code page cannot hold.
std::string Encode(std::string_view utf8, int codePage) {
    return text::Encode(utf8, codePage, text::Unmappable::CharRef);
}

// A stored name as an address: the characters that would end the name or
// start an escape, and control characters, percent-encoded.
std::string AddressOf(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '%' || c == '#' || c == '?' || byte < 0x20 || byte == 0x7F) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

void WriteList(std::string& out, const std::vector<SitemapEntry>& entries, int codePage,
               std::size_t depth) {
    const std::string indent(depth, '\t');
    out += indent + "<UL>\r\n";
    for (const SitemapEntry& entry : entries) {
        out += indent + "\t<LI> <OBJECT type=\"text/sitemap\">\r\n";
        out += indent + "\t\t<param name=\"Name\" value=\"" +
               Encode(EscapeHtml(entry.name, HtmlContext::Attribute), codePage) + "\">\r\n";
        if (!entry.local.empty()) {
            std::string address = AddressOf(entry.local);
            if (!entry.fragment.empty())
                address += "#" + entry.fragment;
            out += indent + "\t\t<param name=\"Local\" value=\"" +
                   Encode(EscapeHtml(address, HtmlContext::Attribute), codePage) + "\">\r\n";
        }
        out += indent + "\t\t</OBJECT>\r\n";
        if (!entry.children.empty())
            WriteList(out, entry.children, codePage, depth + 1);
    }
    out += indent + "</UL>\r\n";
}

} // namespace

std::vector<SitemapEntry> ContentsFromPage(const SiteWalk& walk, std::string_view pageName) {
    const auto page = std::find_if(walk.files.begin(), walk.files.end(), [&](const SiteFile& f) {
        return f.name == pageName && f.kind == FileKind::Page;
    });
    if (page == walk.files.end())
        return {};
    ContentsBuilder builder(walk, *page);
    ScanMarkup(page->bytes, builder);
    return builder.Finish();
}

std::vector<SitemapEntry> KeywordsFromPages(const SiteWalk& walk, std::uint32_t language) {
    const text::Collation collation(language);
    struct Keyword {
        std::string key;
        const SiteFile* page;
    };
    std::vector<Keyword> keywords;
    for (const SiteFile& file : walk.files) {
        if (file.kind == FileKind::Page)
            keywords.push_back({collation.SortKey(file.title), &file});
    }
    // The language's order, with each key made once; equal titles go by stored name.
    std::sort(keywords.begin(), keywords.end(), [](const Keyword& a, const Keyword& b) {
        if (a.key != b.key)
            return a.key < b.key;
        if (a.page->title != b.page->title)
            return NameLess(a.page->title, b.page->title);
        return a.page->name < b.page->name;
    });
    std::vector<SitemapEntry> entries;
    entries.reserve(keywords.size());
    for (const Keyword& keyword : keywords)
        entries.push_back({keyword.page->title, keyword.page->name.substr(1), {}, {}});
    return entries;
}

std::string WriteSitemap(const std::vector<SitemapEntry>& entries, std::uint32_t language) {
    const int codePage = text::AnsiCodePage(language);
    std::string out = "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\r\n"
                      "<HTML>\r\n<HEAD>\r\n"
                      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
                      std::string(text::Charset::ForCodePage(codePage).Name()) +
                      "\">\r\n</HEAD>\r\n<BODY>\r\n";
    if (!entries.empty())
        WriteList(out, entries, codePage, 0);
    out += "</BODY>\r\n</HTML>\r\n";
    return out;
}

chm::SitemapProperties ReadSitemapProperties(const SiteFile& sitemap) {
    chm::SitemapProperties out;
    for (const SitemapObject& object : ReadObjects(sitemap)) {
        if (!EqualsAsciiNoCase(object.type, "text/site properties"))
            continue;
        for (const auto& [name, value] : object.params) {
            const std::string text = PlainText(value, sitemap.charset);
            if (EqualsAsciiNoCase(name, "imagelist"))
                out.imageList = text;
            else if (EqualsAsciiNoCase(name, "imagetype"))
                out.folderImages = EqualsAsciiNoCase(text, "folder");
            else if (EqualsAsciiNoCase(name, "background"))
                out.background = CNumber(text);
            else if (EqualsAsciiNoCase(name, "foreground"))
                out.foreground = CNumber(text);
            else if (EqualsAsciiNoCase(name, "font"))
                out.font = text;
            else if (EqualsAsciiNoCase(name, "window styles"))
                out.windowStyles = CNumber(text);
            else if (EqualsAsciiNoCase(name, "exwindow styles"))
                out.exWindowStyles = CNumber(text);
            else if (EqualsAsciiNoCase(name, "framename"))
                out.frameName = text;
            else if (EqualsAsciiNoCase(name, "windowname"))
                out.windowName = text;
        }
    }
    return out;
}

std::vector<std::string> FirstEntryNames(const SiteWalk& walk, const SiteFile& sitemap) {
    std::vector<std::string> names(walk.files.size());
    for (const SitemapObject& object : ReadObjects(sitemap)) {
        if (!EqualsAsciiNoCase(object.type, "text/sitemap"))
            continue;
        std::string name;
        std::size_t file = kNone;
        for (const auto& [param, value] : object.params) {
            if (EqualsAsciiNoCase(param, "name") && name.empty())
                name = PlainText(value, sitemap.charset);
            else if (EqualsAsciiNoCase(param, "local") && file == kNone)
                file = ReachedBy(sitemap, value);
        }
        if (file != kNone && file < names.size() && names[file].empty())
            names[file] = std::move(name);
    }
    return names;
}

namespace {

void CollectKeywords(const SiteWalk& walk, const SiteFile& sitemap,
                     const std::vector<SitemapNode>& nodes, std::vector<std::string>& path,
                     std::vector<SitemapKeyword>& out) {
    for (const SitemapNode& node : nodes) {
        path.push_back(node.name);
        SitemapKeyword keyword{path, {}, node.seeAlso, {}};
        for (const SitemapTarget& target : node.targets) {
            const std::size_t file = ReachedAt(sitemap, target.offset);
            if (file < walk.files.size()) {
                keyword.targets.push_back(walk.files[file].name);
                keyword.targetNames.push_back(target.name);
            }
        }
        out.push_back(std::move(keyword));
        CollectKeywords(walk, sitemap, node.children, path, out);
        path.pop_back();
    }
}

} // namespace

std::vector<SitemapKeyword> ReadIndexKeywords(const SiteWalk& walk, const SiteFile& sitemap) {
    std::vector<SitemapKeyword> out;
    std::vector<std::string> path;
    CollectKeywords(walk, sitemap, ReadSitemap(sitemap.bytes, sitemap.charset), path, out);
    return out;
}

std::string StoredSitemap(const SiteFile& sitemap) {
    std::string out = sitemap.bytes;
    for (const SitemapObject& object : ReadObjects(sitemap)) {
        for (const auto& [param, value] : object.params) {
            if (!EqualsAsciiNoCase(param, "local"))
                continue;
            const auto at = static_cast<std::size_t>(value.data() - sitemap.bytes.data());
            for (std::size_t i = 0; i < value.size(); ++i) {
                const auto byte = static_cast<unsigned char>(value[i]);
                if (LeadsPair(sitemap.charset, byte))
                    ++i; // its second byte is no backslash
                else if (byte == '\\')
                    out[at + i] = '/';
            }
        }
    }
    return out;
}

std::string FreeStoredName(const SiteWalk& walk, std::string_view extension) {
    const auto taken = [&](const std::string& name) {
        return std::any_of(walk.files.begin(), walk.files.end(),
                           [&](const SiteFile& file) { return EqualNoCase(file.name, name); });
    };
    std::string name = "/Tomebox" + std::string(extension);
    for (int n = 2; taken(name); ++n)
        name = "/Tomebox-" + std::to_string(n) + std::string(extension);
    return name;
}

} // namespace tbx::site
