#include "platform/messages.h"

#include <clocale>
#include <filesystem>

namespace tbx {

void UseMessageCatalogue(const std::string& programFolder) {
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
    // A build tree keeps the catalogue beside the programs, so that they and
    // the tests speak the user's language without an install; an installed
    // tree keeps it where the system's catalogues are, relative to the
    // program so that the tree may move.
    std::error_code ec;
    const std::string beside = programFolder + "locale";
    const std::string folder = std::filesystem::is_directory(beside, ec)
                                   ? beside
                                   : programFolder + TOMEBOX_INSTALLED_LOCALES;
    bindtextdomain(kMessageDomain, folder.c_str());
}

} // namespace tbx
