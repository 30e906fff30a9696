#pragma once
// The option store: five keys under "Software/Tomebox" in the registry
// stand-in, every value a text. Nothing is cached: each reader opens its own
// key, so worker threads may read while the user-interface thread writes.

#include "platform/registry.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace tbx {

inline constexpr const char* kCmnOptsKey = "Software/Tomebox/CmnOpts";
inline constexpr const char* kBtnOptsKey = "Software/Tomebox/BtnOpts";
inline constexpr const char* kNavOptsKey = "Software/Tomebox/NavOpts";
inline constexpr const char* kDecOptsKey = "Software/Tomebox/DecOpts";
inline constexpr const char* kIndOptsKey = "Software/Tomebox/IndOpts";

// Reader buffer sizes, terminating zero included.
inline constexpr std::size_t kFlagBufferSize = 10;
inline constexpr std::size_t kTextBufferSize = 3000;

// Check states as the option pages hand them over.
inline constexpr int kUnchecked = 0;
inline constexpr int kChecked = 1;
inline constexpr int kIndeterminate = 2;

// Owner of one open key; closes it when destroyed.
class COptKey {
public:
    COptKey() = default;
    COptKey(const COptKey&) = delete;
    COptKey& operator=(const COptKey&) = delete;
    ~COptKey() { Close(); }

    // Opens an existing key; on failure the key held before stays held.
    long Open(const RegHive& hive, std::string_view keyPath);
    // Opens the key, creating it with its parents when missing.
    long OpenOrCreate(const RegHive& hive, std::string_view keyPath);
    // With no key held nothing is written.
    long SetText(std::string_view name, std::string_view text);
    // Reads at most bufferSize bytes, zero included; byteCount comes back as
    // the bytes read (text + zero) or 0 on any failure.
    long QueryText(std::string_view name, std::string& text, std::size_t bufferSize,
                   std::size_t& byteCount) const;
    void Close();

    bool IsOpen() const { return open_; }

private:
    long Hold(long result, std::filesystem::path dir);

    std::filesystem::path dir_;
    bool open_ = false;
};

// Stateless value helper used by the option pages and the windows.
class COptReg {
public:
    // Stores "1" for a checked box and "0" for any other state.
    long WriteFlag(int checkState, COptKey& key, std::string_view name) const;
    // On exactly when the stored text is "1".
    bool ReadFlag(const COptKey& key, std::string_view name) const;
    // atoi of the stored text; 0 when missing or too long.
    int ReadNumber(const COptKey& key, std::string_view name) const;
    // The stored text up to its first zero byte; empty when missing or too long.
    std::string ReadText(const COptKey& key, std::string_view name) const;
};

// One-shot readers: open the key, read, close. valueIfSet when the flag is
// on, 0 when it is off or the key cannot be opened.
int GetOptFlag(const RegHive& hive, std::string_view name, int valueIfSet,
               std::string_view keyPath);
int GetOptNumber(const RegHive& hive, std::string_view name, std::string_view keyPath);

// Runs at every start: removes what a killed copy left in the store, then
// creates each missing option key (all but NavOpts) with its defaults; an
// existing key is left exactly as it is.
void WriteFirstRunDefaults(const RegHive& hive);

} // namespace tbx
