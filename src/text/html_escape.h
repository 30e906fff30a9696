#pragma once
// Text put into HTML that we write, so that it reads as text, not markup.

#include <string>
#include <string_view>

namespace tbx {

enum class HtmlContext {
    Text,      // between tags
    Attribute, // inside a double-quoted attribute value
};

// "&", "<" and ">" as references; in an attribute also the double quote,
// and control characters as spaces, since a value is one line.
std::string EscapeHtml(std::string_view text, HtmlContext context);

} // namespace tbx
