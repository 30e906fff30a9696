#include "site/sitemap_reader.h"

#include "text/markup.h"
#include "text/text_case.h"

#include <charconv>

namespace tbx::site {
namespace {

// The parameters of one <OBJECT type="text/sitemap">, raw as written.
struct RawObject {
    std::vector<std::pair<std::string_view, std::string_view>> params;
};

class SitemapScanner final : public text::MarkupVisitor {
public:
    void OnTag(const text::MarkupTag& tag) override {
        text::ReadCharsetDeclaration(tag, declared);
        if (tag.Is("ul") || tag.Is("ol")) {
            if (tag.closing)
                events.push_back({Event::Kind::Close, {}});
            else
                events.push_back({Event::Kind::Open, {}});
        } else if (tag.Is("object")) {
            if (tag.closing) {
                if (inObject_)
                    events.push_back({Event::Kind::Entry, std::move(object_)});
                inObject_ = false;
                object_ = {};
            } else {
                const text::TagAttribute* type = tag.Find("type");
                inObject_ = type && EqualNoCase(type->value, "text/sitemap");
            }
        } else if (tag.Is("param") && inObject_) {
            const text::TagAttribute* name = tag.Find("name");
            const text::TagAttribute* value = tag.Find("value");
            if (name && value)
                object_.params.emplace_back(name->value, value->value);
        }
    }

    struct Event {
        enum class Kind { Open, Close, Entry } kind;
        RawObject object;
    };
    std::vector<Event> events;
    text::CharsetDeclarations declared;

private:
    bool inObject_ = false;
    RawObject object_;
};

std::string Text(std::string_view raw, text::Charset charset) {
    return text::DecodeCharacterReferences(text::Decode(raw, charset),
                                           text::ReferenceContext::Attribute);
}

SitemapNode NodeOf(const RawObject& object, text::Charset charset, std::string_view bytes) {
    SitemapNode node;
    bool named = false;
    std::string targetName;
    for (const auto& [rawKey, rawValue] : object.params) {
        const std::string value = Text(rawValue, charset);
        if (EqualNoCase(rawKey, "Name")) {
            if (!named) {
                node.name = value;
                named = true;
            } else {
                targetName = value;
            }
        } else if (EqualNoCase(rawKey, "Local") || EqualNoCase(rawKey, "URL")) {
            if (value.empty())
                continue;
            node.targets.push_back({targetName.empty() ? node.name : targetName, value,
                                    static_cast<std::size_t>(rawValue.data() - bytes.data())});
            targetName.clear();
        } else if (EqualNoCase(rawKey, "ImageNumber")) {
            int number = 0;
            std::from_chars(rawValue.data(), rawValue.data() + rawValue.size(), number);
            node.imageNumber = number;
        } else if (EqualNoCase(rawKey, "See Also")) {
            node.seeAlso = value;
        }
    }
    // Topics named after the entry where the sitemap gave no name of their own.
    for (SitemapTarget& target : node.targets)
        if (target.name.empty())
            target.name = node.name;
    return node;
}

} // namespace

bool SitemapNode::IsBook() const {
    // The standard image list: books and folders come first, pages after.
    if (imageNumber > 0)
        return imageNumber <= 8;
    return !children.empty();
}

std::vector<SitemapNode> ReadSitemap(std::string_view bytes, text::Charset fallback) {
    SitemapScanner scanner;
    text::ScanMarkup(bytes, scanner);
    const text::Charset charset = text::DecidePageCharset(bytes, scanner.declared, fallback);

    std::vector<SitemapNode> top;
    // The lists open from the outside in: each level's entries; a level
    // opened right after an entry holds that entry's children.
    std::vector<std::vector<SitemapNode>*> levels{&top};
    std::size_t deeper = 0; // lists opened beyond the depth kept
    std::size_t opened = 0; // lists open at all: the first <UL> is the top
    for (SitemapScanner::Event& event : scanner.events) {
        switch (event.kind) {
        case SitemapScanner::Event::Kind::Open:
            ++opened;
            if (opened == 1)
                break;
            if (levels.size() >= kMaxSitemapDepth || levels.back()->empty())
                ++deeper; // a list with no entry to hang it on joins its level
            else
                levels.push_back(&levels.back()->back().children);
            break;
        case SitemapScanner::Event::Kind::Close:
            if (opened == 0)
                break;
            --opened;
            if (deeper > 0)
                --deeper;
            else if (levels.size() > 1)
                levels.pop_back();
            break;
        case SitemapScanner::Event::Kind::Entry: {
            SitemapNode node = NodeOf(event.object, charset, bytes);
            // The site's properties object ("ImageType", "Window") names nothing.
            if (node.name.empty() && node.targets.empty())
                break;
            levels.back()->push_back(std::move(node));
            break;
        }
        }
    }
    return top;
}

namespace {

// The KLink and ALink objects' values, raw as written.
class KeywordObjectScanner final : public text::MarkupVisitor {
public:
    void OnTag(const text::MarkupTag& tag) override {
        if (tag.Is("object")) {
            // The index's own control; the HTML Help control's KLink and
            // ALink buttons (another class) look keywords up, not define them.
            const text::TagAttribute* type = tag.Find("type");
            const text::TagAttribute* classId = tag.Find("classid");
            inObject_ = !tag.closing && type &&
                        EqualNoCase(type->value, "application/x-oleobject") && classId &&
                        EqualNoCase(classId->value, "clsid:1e2a7bd0-dab9-11d0-b93a-00c04fc99f9e");
        } else if (tag.Is("param") && inObject_) {
            const text::TagAttribute* name = tag.Find("name");
            const text::TagAttribute* value = tag.Find("value");
            if (name && value && EqualNoCase(name->value, "Keyword"))
                klinks.push_back(value->value);
            else if (name && value && EqualNoCase(name->value, "ALink Name"))
                alinks.push_back(value->value);
        }
    }
    std::vector<std::string_view> klinks, alinks;

private:
    bool inObject_ = false;
};

std::string_view Trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

void SplitKeywords(std::string_view value, std::vector<std::vector<std::string>>& out) {
    while (!value.empty()) {
        const std::size_t semicolon = value.find(';');
        std::string_view keyword = value.substr(0, semicolon);
        value =
            semicolon == std::string_view::npos ? std::string_view() : value.substr(semicolon + 1);
        std::vector<std::string> levels;
        while (!keyword.empty()) {
            const std::size_t comma = keyword.find(',');
            const std::string_view level = Trimmed(keyword.substr(0, comma));
            keyword =
                comma == std::string_view::npos ? std::string_view() : keyword.substr(comma + 1);
            if (!level.empty())
                levels.emplace_back(level);
        }
        if (!levels.empty())
            out.push_back(std::move(levels));
    }
}

} // namespace

PageKeywords ReadPageKeywords(std::string_view bytes, text::Charset charset) {
    KeywordObjectScanner scanner;
    text::ScanMarkup(bytes, scanner);
    PageKeywords out;
    for (std::string_view raw : scanner.klinks)
        SplitKeywords(Text(raw, charset), out.klinks);
    for (std::string_view raw : scanner.alinks)
        SplitKeywords(Text(raw, charset), out.alinks);
    return out;
}

} // namespace tbx::site
