#pragma once
// A Russian help file built by the real hhc from a hand-written project:
// nested contents with a heading, a keyword on two topics, a page with a
// Cyrillic file name in UTF-8, pages in Windows-1251, an "ms-its:" link, a
// window definition whose caption follows the topic. Used by the viewer's
// tests.

#include "platform/process.h"
#include "support/temp_dir.h"
#include "text/charset.h"

#include <filesystem>
#include <map>
#include <string>

namespace tbx::test {

struct RussianHelp {
    std::string path;  // the .chm
    std::string build; // what hhc printed when it failed; empty on success
};

inline std::string In1251(std::string_view utf8) {
    return text::Encode(utf8, 1251, text::Unmappable::CharRef);
}

// The site and project under folder; the help file is folder/ru.chm.
inline RussianHelp BuildRussianHelp(const std::filesystem::path& folder, const std::string& hhc) {
    const std::string meta1251 =
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">";
    auto page1251 = [&](const std::string& title, const std::string& body) {
        return In1251("<html><head>" + meta1251 + "<title>" + title + "</title></head><body>" +
                      body + "</body></html>");
    };
    const std::map<std::string, std::string> files = {
        {"index.htm", page1251("Начало", "<h1>Начало</h1><p>Добро пожаловать.</p>"
                                         "<a href=\"glava/razdel.htm\">раздел</a> "
                                         "<a href=\"страница.htm\">страница</a> "
                                         "<a href=\"ssylki.htm\">ссылки</a>")},
        {"glava/razdel.htm",
         page1251("Царговая колонна", "<h1 id=\"h\">Колонна</h1><p>Ректификационная колонна и "
                                      "царга.</p><img src=\"../kartinka.gif\">")},
        {"glava/vtoroj.htm", page1251("Второй раздел", "<p>Колонна без царги.</p>")},
        {"страница.htm", "<html><head><meta charset=\"utf-8\"><title>Страница в UTF-8</title>"
                         "</head><body><p id=\"t\">Уникальное слово: щавель.</p></body></html>"},
        {"ssylki.htm", page1251("Ссылки", "<a id=\"its\" href=\"ms-its:ru.chm::/glava/vtoroj.htm\">"
                                          "второй</a> <a id=\"web\" href=\"https://example.org/\">"
                                          "сайт</a>")},
        // GIF89a, 1x1.
        {"kartinka.gif", std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01"
                                     "\x00\x01\x00\x00\x02\x00;",
                                     26)},
        {"toc.hhc",
         In1251("<html><body><ul>"
                "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Начало\">"
                "<param name=\"Local\" value=\"index.htm\"></object>"
                "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Глава "
                "&laquo;Один&raquo;\">"
                "</object><ul>"
                "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Царга\">"
                "<param name=\"Local\" value=\"glava/razdel.htm\"></object>"
                "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Второй\">"
                "<param name=\"Local\" value=\"glava\\vtoroj.htm\"></object>"
                "</ul>"
                "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Страница\">"
                "<param name=\"Local\" value=\"страница.htm\"></object>"
                "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Ссылки\">"
                "<param name=\"Local\" value=\"ssylki.htm\"></object>"
                "</ul></body></html>")},
        {"idx.hhk",
         In1251("<html><body><ul>"
                "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"колонна\">"
                "<param name=\"Name\" value=\"Царговая колонна\">"
                "<param name=\"Local\" value=\"glava/razdel.htm\">"
                "<param name=\"Name\" value=\"Второй раздел\">"
                "<param name=\"Local\" value=\"glava/vtoroj.htm\"></object>"
                "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"щавель\">"
                "<param name=\"Local\" value=\"страница.htm\"></object>"
                "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"ёлка\">"
                "<param name=\"Local\" value=\"index.htm\"></object>"
                "</ul></body></html>")},
        {"ru.hhp",
         In1251("[OPTIONS]\r\nCompiled file=ru.chm\r\nContents file=toc.hhc\r\n"
                "Index file=idx.hhk\r\nDefault topic=index.htm\r\nDefault Window=main\r\n"
                "Full-text search=Yes\r\nLanguage=0x419 Russian\r\nTitle=Русская справка\r\n\r\n"
                "[WINDOWS]\r\nmain=\"Русская справка\",\"toc.hhc\",\"idx.hhk\",\"index.htm\","
                "\"index.htm\",,,,,0x2520,240,0x304E,[20,30,820,630],,,,,,,0\r\n\r\n"
                "[FILES]\r\nindex.htm\r\nglava\\razdel.htm\r\nglava\\vtoroj.htm\r\n"
                "страница.htm\r\nssylki.htm\r\n")},
    };
    for (const auto& [name, bytes] : files) {
        std::filesystem::create_directories((folder / name).parent_path());
        WriteFile(folder / name, bytes);
    }
    ChildProcess child;
    child.Start(hhc, {(folder / "ru.hhp").string()});
    std::string said;
    const ProcessOutcome outcome =
        child.Wait([&](std::string_view line) { said.append(line).append("\n"); });
    RussianHelp help;
    help.path = (folder / "ru.chm").string();
    if (!outcome.exited || outcome.exitCode != 0 || !std::filesystem::exists(help.path))
        help.build = said + outcome.errorOutput;
    return help;
}

} // namespace tbx::test
