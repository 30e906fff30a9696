#include "cli/options_snapshot.h"

#include "platform/messages.h"
#include "platform/temp_files.h"
#include "settings/opt_store.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace tbx::cli {
namespace {

constexpr std::string_view kPrefix = "options-";

constexpr const char* kOptionKeys[] = {kCmnOptsKey, kBtnOptsKey, kNavOptsKey, kDecOptsKey,
                                       kIndOptsKey};

// Copies every value the readers could read of each option key that exists
// in from; a key without values is copied too, since an existing key gets
// no first-run defaults.
std::string CopyOptionKeys(const RegHive& from, const RegHive& to) {
    for (const char* key : kOptionKeys) {
        std::filesystem::path dir;
        if (RegOpenKey(from, key, dir) != kErrorSuccess)
            continue;
        std::vector<std::pair<std::string, std::string>> values;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            const std::string name = entry.path().filename().string();
            std::string text;
            // Temporary files, links and values too long to read are left
            // out: the readers would not see them either.
            if (entry.is_regular_file(ec) && !entry.is_symlink(ec) &&
                RegQueryValue(dir, name, kTextBufferSize, text) == kErrorSuccess)
                values.emplace_back(name, std::move(text));
        }
        if (const long result = RegCreateKeyWithValues(to, key, values); result != kErrorSuccess)
            return Format(Tr("the settings key %s could not be copied (code %ld)"),
                          std::string(key), result);
    }
    return {};
}

} // namespace

OptionsSnapshot::OptionsSnapshot(const std::filesystem::path& saved) {
    const std::string work = PrivateWorkFolder();
    if (work.empty()) {
        error_ = Tr("the program has no private temporary folder");
        return;
    }
    RemoveStaleTemporaries(work, kPrefix);
    folder_ = CreateTempFolder(work, kPrefix);
    if (folder_.empty()) {
        error_ = work + ": " + std::strerror(errno);
        return;
    }
    hive_ = RegHive(folder_);
    if (!saved.empty())
        error_ = CopyOptionKeys(RegHive(saved), hive_);
    if (error_.empty())
        WriteFirstRunDefaults(hive_);
}

OptionsSnapshot::~OptionsSnapshot() {
    std::error_code ec;
    if (!folder_.empty())
        std::filesystem::remove_all(folder_, ec);
}

std::string OptionsSnapshot::Set(std::string_view key,
                                 const std::vector<std::pair<std::string, std::string>>& values) {
    std::string failedValue;
    if (RegSetValues(hive_, key, values, failedValue) != kErrorSuccess)
        return std::string(key) + (failedValue.empty() ? "" : "/" + failedValue);
    return {};
}

} // namespace tbx::cli
