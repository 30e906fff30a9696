#include "support/sitemap_reader.h"

#include "text/charset.h"

#include <gtest/gtest.h>
#include <map>
#include <string_view>

namespace tbx::test {
namespace {

std::string DecodeValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const std::size_t semicolon = value.find(';', i);
        const std::string_view ref = value[i] == '&' && semicolon != std::string_view::npos
                                         ? value.substr(i + 1, semicolon - i - 1)
                                         : std::string_view();
        if (ref.size() > 1 && ref[0] == '#' &&
            ref.find_first_not_of("0123456789", 1) == std::string_view::npos) {
            AppendUtf8(out, static_cast<char32_t>(std::stoul(std::string(ref.substr(1)))));
        } else if (ref == "amp" || ref == "quot" || ref == "lt" || ref == "gt") {
            out += ref == "amp" ? '&' : ref == "quot" ? '"' : ref == "lt" ? '<' : '>';
        } else {
            out += value[i];
            continue;
        }
        i = semicolon;
    }
    return out;
}

std::string Unpercent(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct ReadTag {
    std::string name;
    bool closing = false;
    std::map<std::string, std::string> values; // name="value" attributes, decoded
};

// The tags of a sitemap. Its values are quoted and hold no ">", so a tag
// ends at the first one.
std::vector<ReadTag> TagsOf(const std::string& text) {
    std::vector<ReadTag> tags;
    for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        const std::size_t end = text.find('>', at);
        if (end == std::string::npos)
            break;
        std::string_view body(text.data() + at + 1, end - at - 1);
        ReadTag tag;
        tag.closing = body.starts_with('/');
        body.remove_prefix(tag.closing ? 1 : 0);
        tag.name = body.substr(0, body.find_first_of(" \t\r\n"));
        for (std::size_t eq = body.find("=\""); eq != std::string_view::npos;
             eq = body.find("=\"", eq + 1)) {
            const std::size_t nameStart = body.find_last_of(" \t", eq) + 1;
            const std::size_t close = body.find('"', eq + 2);
            if (close == std::string_view::npos)
                break;
            tag.values[std::string(body.substr(nameStart, eq - nameStart))] =
                DecodeValue(body.substr(eq + 2, close - eq - 2));
            eq = close;
        }
        tags.push_back(std::move(tag));
    }
    return tags;
}

} // namespace

std::vector<ReadEntry> ReadSitemap(const std::string& utf8) {
    std::vector<ReadEntry> top;
    std::vector<std::vector<ReadEntry>*> lists;
    ReadEntry* current = nullptr;
    for (ReadTag& tag : TagsOf(utf8)) {
        if (tag.name == "UL" && !tag.closing) {
            if (lists.empty())
                lists.push_back(&top);
            else if (lists.back()->empty())
                ADD_FAILURE() << "a list before any entry";
            else
                lists.push_back(&lists.back()->back().children);
        } else if (tag.name == "UL" && !lists.empty()) {
            lists.pop_back();
        } else if (tag.name == "OBJECT" && !tag.closing && tag.values["type"] == "text/sitemap") {
            if (lists.empty()) {
                ADD_FAILURE() << "an entry outside every list";
                return top;
            }
            lists.back()->emplace_back();
            current = &lists.back()->back();
        } else if (tag.name == "param" && current) {
            if (tag.values["name"] == "Name")
                current->name = tag.values["value"];
            else if (tag.values["name"] == "Local")
                current->local = Unpercent(tag.values["value"]);
        } else if (tag.name == "OBJECT" && tag.closing) {
            current = nullptr;
        }
    }
    EXPECT_TRUE(lists.empty()) << "unclosed list";
    return top;
}

std::string Compact(const std::vector<ReadEntry>& entries) {
    std::string out;
    for (const ReadEntry& entry : entries) {
        if (!out.empty())
            out += ";";
        out += entry.name;
        if (entry.local)
            out += "=" + *entry.local;
        if (!entry.children.empty())
            out += "{" + Compact(entry.children) + "}";
    }
    return out;
}

} // namespace tbx::test
