#include "settings/opt_store.h"

#include <cstdlib>
#include <utility>
#include <vector>

namespace tbx {
namespace {

std::string UpToZero(std::string text) {
    const auto zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

// The text of a value read through a buffer of bufferSize bytes; empty when
// it is missing or does not fit.
std::string ReadValue(const COptKey& key, std::string_view name, std::size_t bufferSize) {
    std::string text;
    std::size_t byteCount = 0;
    key.QueryText(name, text, bufferSize, byteCount);
    return UpToZero(std::move(text));
}

bool IsFlagText(const std::string& text) {
    return text == "1";
}

int ToNumber(const std::string& text) {
    return std::atoi(text.c_str());
}

using Defaults = std::vector<std::pair<std::string, std::string>>;

void WriteDefaultsIfMissing(const RegHive& hive, const char* keyPath, const Defaults& values) {
    COptKey key;
    if (key.Open(hive, keyPath) == kErrorSuccess)
        return;
    // All values or none: a half-written key would never be completed, since
    // an existing key is left as it is at every later start.
    RegCreateKeyWithValues(hive, keyPath, values);
}

} // namespace

long COptKey::Hold(long result, std::filesystem::path dir) {
    // On failure the key held before stays held.
    if (result == kErrorSuccess) {
        dir_ = std::move(dir);
        open_ = true;
    }
    return result;
}

long COptKey::Open(const RegHive& hive, std::string_view keyPath) {
    std::filesystem::path dir;
    const long result = RegOpenKey(hive, keyPath, dir);
    return Hold(result, std::move(dir));
}

long COptKey::OpenOrCreate(const RegHive& hive, std::string_view keyPath) {
    if (Open(hive, keyPath) == kErrorSuccess)
        return kErrorSuccess;
    std::filesystem::path dir;
    const long result = RegCreateKey(hive, keyPath, dir);
    return Hold(result, std::move(dir));
}

long COptKey::SetText(std::string_view name, std::string_view text) {
    if (!open_)
        return kErrorInvalidHandle;
    // Like a create-or-open of the key itself: a key removed meanwhile comes back.
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
    return RegSetValue(dir_, name, text);
}

long COptKey::QueryText(std::string_view name, std::string& text, std::size_t bufferSize,
                        std::size_t& byteCount) const {
    byteCount = 0;
    text.clear();
    if (!open_)
        return kErrorInvalidHandle;
    const long result = RegQueryValue(dir_, name, bufferSize, text);
    if (result == kErrorSuccess)
        byteCount = text.size() + 1;
    return result;
}

void COptKey::Close() {
    dir_.clear();
    open_ = false;
}

long COptReg::WriteFlag(int checkState, COptKey& key, std::string_view name) const {
    return key.SetText(name, checkState == kChecked ? "1" : "0");
}

bool COptReg::ReadFlag(const COptKey& key, std::string_view name) const {
    return IsFlagText(ReadValue(key, name, kFlagBufferSize));
}

int COptReg::ReadNumber(const COptKey& key, std::string_view name) const {
    return ToNumber(ReadValue(key, name, kFlagBufferSize));
}

std::string COptReg::ReadText(const COptKey& key, std::string_view name) const {
    return ReadValue(key, name, kTextBufferSize);
}

int GetOptFlag(const RegHive& hive, std::string_view name, int valueIfSet,
               std::string_view keyPath) {
    COptKey key;
    if (key.Open(hive, keyPath) != kErrorSuccess)
        return 0;
    return IsFlagText(ReadValue(key, name, kFlagBufferSize)) ? valueIfSet : 0;
}

int GetOptNumber(const RegHive& hive, std::string_view name, std::string_view keyPath) {
    COptKey key;
    if (key.Open(hive, keyPath) != kErrorSuccess)
        return 0;
    return ToNumber(ReadValue(key, name, kFlagBufferSize));
}

void WriteFirstRunDefaults(const RegHive& hive) {
    // The start is when what a killed copy left in the store goes.
    for (const char* keyPath : {kCmnOptsKey, kBtnOptsKey, kNavOptsKey, kDecOptsKey, kIndOptsKey})
        RegRemoveStaleTemporaries(hive, keyPath);
    WriteDefaultsIfMissing(hive, kCmnOptsKey,
                           {{"OpenAfterCompile", "1"},
                            {"AutoSize", "1"},
                            {"LSide", "0"},
                            {"TSide", "0"},
                            {"Width", "300"},
                            {"Height", "300"}});
    WriteDefaultsIfMissing(hive, kBtnOptsKey,
                           {{"ShowHide", "1"},
                            {"Back", "1"},
                            {"Forward", "1"},
                            {"Stop", "1"},
                            {"Refresh", "1"},
                            {"Print", "1"}});
    WriteDefaultsIfMissing(hive, kDecOptsKey, {{"OpnDecDir", "1"}, {"ChgDecDir", "1"}});
    WriteDefaultsIfMissing(hive, kIndOptsKey, {{"IndexingFinish", "1"}, {"CSSPath", "Default"}});
}

} // namespace tbx
