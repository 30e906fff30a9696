#include "text/html_escape.h"

namespace tbx {

std::string EscapeHtml(std::string_view text, HtmlContext context) {
    const bool attribute = context == HtmlContext::Attribute;
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (attribute && c == '"')
            out += "&quot;";
        else if (attribute && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F))
            out += ' ';
        else
            out += c;
    }
    return out;
}

} // namespace tbx
