#pragma once
// A generated site for the benchmarks, the same on every run: a start page
// "index.htm" whose nested lists link every page, and `pages` pages of about
// 20 KB of Russian prose in Windows-1251 (or of pageBytes), in folders of
// 200, each linking the next, a few others, a shared style sheet and an
// image.
//
// The same site in Latin letters (Script::Latin) spells every Cyrillic
// letter out in one or two Latin ones and declares windows-1252, so that
// its words keep their number and nearly their length.
//
// The prose is drawn word by word from a vocabulary of common Russian words
// and a few thousand made-up ones with a Zipf-like frequency, so it
// compresses about as real text does; one repeated filler would compress
// far better than any real site and measure nothing.

#include "text/charset.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace tbx::bench {

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// splitmix64: fixed output on every platform, unlike the standard
// distributions.
class SiteRandom {
public:
    explicit SiteRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. bound-1
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }

private:
    std::uint64_t state_;
};

class RussianProse {
public:
    explicit RussianProse(std::uint64_t seed) : random_(seed) {
        static const char* const kCommon[] = {
            "и",          "в",          "не",        "на",           "что",
            "с",          "по",         "это",       "как",          "для",
            "к",          "из",         "он",        "она",          "то",
            "но",         "а",          "от",        "за",           "при",
            "так",        "же",         "или",       "его",          "все",
            "был",        "если",       "когда",     "только",       "уже",
            "чтобы",      "может",      "можно",     "нужно",        "файл",
            "файлы",      "справка",    "справки",   "страница",     "страницы",
            "программа",  "программы",  "окно",      "окне",         "кнопка",
            "кнопку",     "нажмите",    "выберите",  "откройте",     "каталог",
            "папка",      "настройки",  "параметры", "пользователь", "пользователя",
            "работа",     "работы",     "система",   "системы",      "данные",
            "данных",     "раздел",     "разделе",   "глава",        "текст",
            "текста",     "ссылка",     "ссылки",    "сайт",         "сайта",
            "список",     "меню",       "поиск",     "содержание",   "указатель",
            "компиляция", "проект",     "проекта",   "сборка",       "версия",
            "новый",      "новая",      "новые",     "первый",       "второй",
            "следующий",  "предыдущий", "каждый",    "другой",       "этот",
            "эта",        "эти",        "который",   "которая",      "которые",
            "время",      "год",        "день",      "место",        "дело",
            "вопрос",     "ответ",      "пример",    "случае",       "образом",
            "также",      "затем",      "после",     "перед",        "между",
            "через",      "около",      "всегда",    "никогда",      "здесь",
            "там",        "очень",      "более",     "менее",        "быстро",
            "просто",     "правильно",  "сразу",
        };
        for (const char* word : kCommon)
            words_.push_back(EncodeCp1251(word, Unmappable::Nearest));
        static const char* const kOnsets[] = {"б",  "в",  "г",  "д",  "ж",  "з",  "к",  "л",  "м",
                                              "н",  "п",  "р",  "с",  "т",  "ф",  "х",  "ц",  "ч",
                                              "ш",  "щ",  "пр", "ст", "кр", "тр", "гр", "сл", "зн",
                                              "бл", "пл", "вр", "дв", "ск", ""};
        static const char* const kVowels[] = {"а", "о", "е", "и", "у", "ы", "я", "ю", "ё", "э"};
        static const char* const kEndings[] = {"",    "ть", "ние", "ость", "ский", "ная", "ого",
                                               "ами", "ет", "ют",  "ой",   "ых",   "ка",  "ов",
                                               "ей",  "им", "ал",  "ла",   "но",   "ся"};
        while (words_.size() < 6000) {
            std::string word;
            const std::size_t syllables = 1 + random_.Below(3);
            for (std::size_t s = 0; s < syllables; ++s)
                word += std::string(kOnsets[random_.Below(std::size(kOnsets))]) +
                        kVowels[random_.Below(std::size(kVowels) - (s == 0 ? 2 : 0))];
            word += kEndings[random_.Below(std::size(kEndings))];
            words_.push_back(EncodeCp1251(word, Unmappable::Nearest));
        }
    }

    // A word drawn with a frequency that falls with its rank.
    const std::string& Word() {
        // The cube of a uniform draw favours the front of the list, where
        // the common words are.
        const double u = static_cast<double>(random_.Next() >> 11) / 9007199254740992.0;
        return words_[static_cast<std::size_t>(u * u * u * static_cast<double>(words_.size()))];
    }

    std::string Sentence() {
        std::string sentence;
        const std::size_t count = 4 + random_.Below(14);
        for (std::size_t i = 0; i < count; ++i) {
            std::string word = Word();
            if (i == 0)
                word = Capital(word);
            sentence += word;
            if (i + 1 < count && random_.Below(9) == 0)
                sentence += ',';
            sentence += i + 1 < count ? " " : (random_.Below(8) == 0 ? "?" : ".");
        }
        return sentence;
    }

    // Some words of the vocabulary joined by blanks, with a capital first letter.
    std::string Phrase(std::size_t count) {
        std::string phrase;
        for (std::size_t i = 0; i < count; ++i)
            phrase += (i ? " " : "") + (i ? Word() : Capital(Word()));
        return phrase;
    }

    SiteRandom& Random() { return random_; }

private:
    // Windows-1251: lower-case а..я are 0xE0..0xFF, upper-case 0xC0..0xDF;
    // ё is 0xB8 and Ё 0xA8.
    static std::string Capital(std::string word) {
        unsigned char& first = reinterpret_cast<unsigned char&>(word[0]);
        if (first >= 0xE0)
            first = static_cast<unsigned char>(first - 0x20);
        else if (first == 0xB8)
            first = 0xA8;
        else if (first >= 'a' && first <= 'z')
            first = static_cast<unsigned char>(first - 'a' + 'A');
        return word;
    }

    SiteRandom random_;
    std::vector<std::string> words_;
};

// Windows-1251 letters spelt out in Latin, one or two letters each.
inline std::string Latinize(std::string_view text) {
    static const char* const kLower[32] = {
        "a", "b", "v", "g", "d", "e", "zh", "z",  "i",  "j",  "k", "l", "m", "n", "o",  "p",
        "r", "s", "t", "u", "f", "h", "c",  "ch", "sh", "sc", "q", "y", "x", "w", "yu", "ya"};
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0xC0) {
            std::string latin = kLower[(byte - 0xC0) % 32];
            if (byte < 0xE0)
                latin[0] = static_cast<char>(latin[0] - 'a' + 'A');
            out += latin;
        } else if (byte == 0xB8 || byte == 0xA8) {
            out += byte == 0xB8 ? "yo" : "Yo";
        } else {
            out += c;
        }
    }
    return out;
}

enum class Script { Cyrillic, Latin };

inline std::string PageName(int index) {
    char name[64];
    std::snprintf(name, sizeof name, "razdel%02d/page%04d.htm", index / 200, index);
    return name;
}

// Writes the site below root and returns the start page. Each page holds
// pageBytes and up to a tenth more.
inline std::filesystem::path MakeSite(const std::filesystem::path& root, int pages,
                                      std::uint64_t seed = 20261207,
                                      Script script = Script::Cyrillic,
                                      std::size_t pageBytes = 19000) {
    namespace fs = std::filesystem;
    const bool latin = script == Script::Latin;
    const auto write = [latin](const fs::path& path, const std::string& html) {
        WriteText(path, latin ? Latinize(html) : html);
    };
    RussianProse prose(seed);
    SiteRandom& random = prose.Random();
    fs::create_directories(root / "images");
    WriteText(root / "style.css", "body { font-family: sans-serif; margin: 2em; }\n"
                                  "h1 { color: #334466; }\n"
                                  "p.note { background: url(images/note.png) no-repeat; }\n");
    // Images are incompressible, as real ones are.
    for (int i = 0; i < 20; ++i) {
        std::string image = "\x89PNG\r\n\x1a\n";
        const std::size_t size = 2000 + random.Below(6000);
        while (image.size() < size)
            image += static_cast<char>(random.Next() & 0xFF);
        WriteText(root / ("images/picture" + std::to_string(i) + ".png"), image);
    }
    WriteText(root / "images/note.png", "\x89PNG\r\n\x1a\nnote");

    const std::string head = std::string("<html><head><meta http-equiv=\"Content-Type\" "
                                         "content=\"text/html; charset=windows-") +
                             (latin ? "1252" : "1251") + "\">\n";
    std::vector<std::string> titles(pages);
    for (int i = 0; i < pages; ++i) {
        titles[i] = prose.Phrase(2 + random.Below(4));
        const std::string name = PageName(i);
        fs::create_directories(root / name.substr(0, name.find('/')));
        std::string page = head + "<title>" + titles[i] + "</title>\n" +
                           "<link rel=\"stylesheet\" href=\"../style.css\"></head>\n<body>\n<h1>" +
                           titles[i] + "</h1>\n";
        while (page.size() < pageBytes + random.Below(pageBytes * 2 / 19)) {
            const std::size_t kind = random.Below(10);
            if (kind == 0) {
                page += "<h2>" + prose.Phrase(2 + random.Below(3)) + "</h2>\n";
            } else if (kind == 1) {
                page += "<ul>\n";
                for (std::size_t n = 2 + random.Below(4); n > 0; --n)
                    page += "<li>" + prose.Sentence() + "</li>\n";
                page += "</ul>\n";
            } else if (kind == 2) {
                const int other = static_cast<int>(random.Below(static_cast<std::size_t>(pages)));
                page += "<p class=\"note\">" + prose.Sentence() + " <a href=\"../" +
                        PageName(other) + "\">" + prose.Phrase(2) + "</a></p>\n";
            } else if (kind == 3) {
                page += "<p><img src=\"../images/picture" + std::to_string(random.Below(20)) +
                        ".png\" alt=\"" + prose.Phrase(2) + "\"></p>\n";
            } else {
                page += "<p>";
                for (std::size_t n = 2 + random.Below(5); n > 0; --n)
                    page += prose.Sentence() + (n > 1 ? " " : "");
                page += "</p>\n";
            }
        }
        if (i + 1 < pages)
            page += "<p><a href=\"../" + PageName(i + 1) + "\">" + prose.Phrase(1) + "</a></p>\n";
        write(root / PageName(i), page + "</body></html>\n");
    }

    std::string index = head + "<title>" + prose.Phrase(3) + "</title></head>\n<body>\n<ul>\n";
    for (int i = 0; i < pages; ++i) {
        if (i % 200 == 0)
            index += "<li>" + prose.Phrase(2) + "\n<ul>\n";
        index += "<li><a href=\"" + PageName(i) + "\">" + titles[i] + "</a></li>\n";
        if (i % 200 == 199 || i + 1 == pages)
            index += "</ul></li>\n";
    }
    write(root / "index.htm", index + "</ul>\n</body></html>\n");
    return root / "index.htm";
}

} // namespace tbx::bench
