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

SitemapNode NodeOf(const RawObject& object, text::Charset charset) {
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
            node.targets.push_back({targetName.empty() ? node.name : targetName, value});
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
            SitemapNode node = NodeOf(event.object, charset);
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

} // namespace tbx::site
