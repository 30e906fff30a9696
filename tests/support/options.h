#pragma once
// Setting stored options for a test, as the options sheet would.

#include "settings/opt_store.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <utility>

namespace tbx::test {

// Writes each value into the key, creating it when missing.
inline void SetOptions(const RegHive& hive, const char* keyPath,
                       std::initializer_list<std::pair<const char*, const char*>> values) {
    COptKey key;
    ASSERT_EQ(key.OpenOrCreate(hive, keyPath), kErrorSuccess);
    for (const auto& [name, text] : values)
        ASSERT_EQ(key.SetText(name, text), kErrorSuccess);
}

} // namespace tbx::test
