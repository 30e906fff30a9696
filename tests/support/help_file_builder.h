#pragma once
// A help file written inside a test, without hhc: the help-level files of a
// model, the full-text index of its pages, and the pages, as a map of
// stored names to bytes that a test may change before writing it, to
// damage it in known ways.

#include "chm/internal_files.h"
#include "chm/search_index.h"
#include "chm/writer.h"
#include "text/language.h"
#include "text/search_alphabet.h"

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tbx::test {

struct ModelPage {
    std::string html;  // UTF-8
    std::string title; // as <title> holds it
};

// pages are keyed by stored name, in the order of model.topics; the index is
// written when the model asks for full-text search.
inline std::map<std::string, std::string>
HelpFileParts(const chm::HelpModel& model, const std::map<std::string, ModelPage>& pages) {
    const chm::HelpFiles help = chm::BuildHelpFiles(model);
    std::map<std::string, std::string> files = {
        {"/#SYSTEM", help.system}, {"/#WINDOWS", help.windows}, {"/#STRINGS", help.strings},
        {"/#ITBITS", help.itbits}, {"/#TOPICS", help.topics},   {"/#URLTBL", help.urltbl},
        {"/#URLSTR", help.urlstr},
    };
    std::vector<chm::SearchTopic> topics;
    for (std::uint32_t i = 0; i < model.topics.size(); ++i) {
        const ModelPage& page = pages.at(model.topics[i].name);
        files[model.topics[i].name] = page.html;
        topics.push_back({i, page.html, text::Charset::Utf8(), page.title});
    }
    if (model.fullTextSearch)
        files["/$FIftiMain"] = chm::BuildFullTextIndex(
            topics, *text::FindSearchAlphabet(text::AnsiCodePage(model.language)), model.language);
    return files;
}

inline void WriteHelpFile(const std::string& path,
                          const std::map<std::string, std::string>& files) {
    chm::Writer writer;
    for (const auto& [name, bytes] : files) {
        if (std::string error = writer.Add(name, bytes); !error.empty())
            throw std::runtime_error(name + ": " + error);
    }
    chm::WriteOptions options;
    options.threads = 1;
    if (std::string error = writer.Finish(path, options); !error.empty())
        throw std::runtime_error(error);
}

} // namespace tbx::test
