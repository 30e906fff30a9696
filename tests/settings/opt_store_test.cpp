#include "platform/registry.h"
#include "settings/opt_store.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <latch>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tbx {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

using Values = std::map<std::string, std::string>;

// Every entry of a folder with its content; a sub-folder shows as "<dir>".
Values Contents(const fs::path& dir) {
    Values values;
    for (const auto& entry : fs::directory_iterator(dir))
        values[entry.path().filename().string()] =
            entry.is_directory() ? "<dir>" : ReadFile(entry.path());
    return values;
}

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const Values kCmnDefaults = {
    {"OpenAfterCompile", "1"}, {"AutoSize", "1"}, {"LSide", "0"}, {"TSide", "0"},
    {"Width", "300"},          {"Height", "300"}};
const Values kBtnDefaults = {{"ShowHide", "1"}, {"Back", "1"},    {"Forward", "1"},
                             {"Stop", "1"},     {"Refresh", "1"}, {"Print", "1"}};
const Values kDecDefaults = {{"OpnDecDir", "1"}, {"ChgDecDir", "1"}};
const Values kIndDefaults = {{"IndexingFinish", "1"}, {"CSSPath", "Default"}};

class OptStoreTest : public ::testing::Test {
protected:
    fs::path Dir(std::string_view keyPath) const { return root_ / std::string(keyPath); }

    // Writes a value straight into the store, as the user or another program might.
    void Put(std::string_view keyPath, std::string_view name, std::string_view text) {
        fs::create_directories(Dir(keyPath));
        WriteFile(Dir(keyPath) / std::string(name), text);
    }

    // Stores a value through the store's own writer, then reads it back.
    void Store(std::string_view name, std::string_view text) {
        COptKey key;
        ASSERT_EQ(key.OpenOrCreate(hive_, kCmnOptsKey), kErrorSuccess);
        ASSERT_EQ(key.SetText(name, text), kErrorSuccess);
    }

    TempDir tmp_;
    fs::path root_ = tmp_.Path() / "registry";
    RegHive hive_{root_};
    COptReg reg_;
};

TEST_F(OptStoreTest, FirstRunOnACleanStoreWritesExactlyTheDefaults) {
    WriteFirstRunDefaults(hive_);

    EXPECT_EQ(Names(root_), std::vector<std::string>{"Software"});
    EXPECT_EQ(Names(root_ / "Software"), std::vector<std::string>{"Tomebox"});
    // No NavOpts, and no hidden leftovers of the key creation.
    EXPECT_EQ(Names(root_ / "Software" / "Tomebox"),
              (std::vector<std::string>{"BtnOpts", "CmnOpts", "DecOpts", "IndOpts"}));
    EXPECT_EQ(Contents(Dir(kCmnOptsKey)), kCmnDefaults);
    EXPECT_EQ(Contents(Dir(kBtnOptsKey)), kBtnDefaults);
    EXPECT_EQ(Contents(Dir(kDecOptsKey)), kDecDefaults);
    EXPECT_EQ(Contents(Dir(kIndOptsKey)), kIndDefaults);

    EXPECT_EQ(GetOptFlag(hive_, "NavPanel", 1, kNavOptsKey), 0);
    EXPECT_EQ(GetOptNumber(hive_, "NavWidth", kNavOptsKey), 0);
    EXPECT_EQ(GetOptFlag(hive_, "OpenAfterCompile", 1, kCmnOptsKey), 1);
    EXPECT_EQ(GetOptFlag(hive_, "QuitAfterCompile", 1, kCmnOptsKey), 0);
    EXPECT_EQ(GetOptNumber(hive_, "Height", kCmnOptsKey), 300);
    COptKey ind;
    ASSERT_EQ(ind.Open(hive_, kIndOptsKey), kErrorSuccess);
    EXPECT_EQ(reg_.ReadText(ind, "CSSPath"), "Default");
    EXPECT_EQ(reg_.ReadText(ind, "CSSStyle"), "");
}

TEST_F(OptStoreTest, FirstRunLeavesAnExistingKeyIncomplete) {
    Put(kCmnOptsKey, "AutoSize", "1");
    fs::create_directories(Dir(kDecOptsKey)); // an existing but empty key

    WriteFirstRunDefaults(hive_);

    EXPECT_EQ(Contents(Dir(kCmnOptsKey)), (Values{{"AutoSize", "1"}}));
    EXPECT_TRUE(Contents(Dir(kDecOptsKey)).empty());
    EXPECT_EQ(GetOptFlag(hive_, "OpenAfterCompile", 1, kCmnOptsKey), 0);
    EXPECT_EQ(GetOptFlag(hive_, "AutoSize", 1, kCmnOptsKey), 1);
    EXPECT_EQ(GetOptNumber(hive_, "Width", kCmnOptsKey), 0);
    // The missing keys still get theirs.
    EXPECT_EQ(Contents(Dir(kBtnOptsKey)), kBtnDefaults);
    EXPECT_EQ(Contents(Dir(kIndOptsKey)), kIndDefaults);
}

TEST_F(OptStoreTest, RemovedKeyComesBackWhileRemovedOrChangedValuesStay) {
    WriteFirstRunDefaults(hive_);
    Store("Width", "640");
    fs::remove(Dir(kBtnOptsKey) / "Print");
    fs::remove_all(Dir(kDecOptsKey));

    WriteFirstRunDefaults(hive_);

    EXPECT_EQ(Contents(Dir(kDecOptsKey)), kDecDefaults);
    EXPECT_EQ(GetOptNumber(hive_, "Width", kCmnOptsKey), 640);
    EXPECT_FALSE(fs::exists(Dir(kBtnOptsKey) / "Print"));
    EXPECT_EQ(GetOptFlag(hive_, "Print", 1, kBtnOptsKey), 0);
}

TEST_F(OptStoreTest, KeyBlockedByAFileDoesNotStopTheOtherKeys) {
    fs::create_directories(root_ / "Software" / "Tomebox");
    WriteFile(Dir(kBtnOptsKey), "user data");

    WriteFirstRunDefaults(hive_);

    EXPECT_EQ(ReadFile(Dir(kBtnOptsKey)), "user data");
    EXPECT_EQ(Names(root_ / "Software" / "Tomebox"),
              (std::vector<std::string>{"BtnOpts", "CmnOpts", "DecOpts", "IndOpts"}));
    EXPECT_EQ(Contents(Dir(kCmnOptsKey)), kCmnDefaults);
    EXPECT_EQ(Contents(Dir(kIndOptsKey)), kIndDefaults);
}

TEST_F(OptStoreTest, UnwritableStoreFailsQuietlyAndCreatesNothing) {
    // Running as root, permissions would not stop a write; a file in place of
    // the root folder does.
    WriteFile(root_, "not a folder");

    EXPECT_NO_THROW(WriteFirstRunDefaults(hive_));
    EXPECT_EQ(ReadFile(root_), "not a folder");
    EXPECT_EQ(Names(tmp_.Path()), std::vector<std::string>{"registry"});
    EXPECT_EQ(GetOptFlag(hive_, "OpenAfterCompile", 1, kCmnOptsKey), 0);

    COptKey key;
    EXPECT_NE(key.OpenOrCreate(hive_, kCmnOptsKey), kErrorSuccess);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_NE(key.SetText("Width", "1"), kErrorSuccess);
    EXPECT_EQ(ReadFile(root_), "not a folder");
}

TEST_F(OptStoreTest, SetTextReportsAStoreThatVanishedUnderAHeldKey) {
    COptKey key;
    ASSERT_EQ(key.OpenOrCreate(hive_, kCmnOptsKey), kErrorSuccess);
    fs::remove_all(root_);
    WriteFile(root_, "not a folder");

    EXPECT_NE(key.SetText("Width", "1"), kErrorSuccess);
    EXPECT_NE(reg_.WriteFlag(kChecked, key, "AutoSize"), kErrorSuccess);
    EXPECT_EQ(ReadFile(root_), "not a folder");
    EXPECT_EQ(Names(tmp_.Path()), std::vector<std::string>{"registry"});
}

TEST_F(OptStoreTest, FlagIsOnOnlyForTheTextOne) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"1", true},     {"1\0junk"s, true},
        {"0", false},    {"01", false},
        {"1 ", false},   {" 1", false},
        {"1\n", false},  {"11", false},
        {"yes", false},  {"true", false},
        {"TRUE", false}, {"on", false},
        {"", false},     {std::string(1, '\0') + "1", false},
        {"-1", false},   {"2", false},
    };
    for (const auto& [text, on] : cases) {
        SCOPED_TRACE("stored text \"" + text + "\"");
        Store("Flag", text);
        COptKey key;
        ASSERT_EQ(key.Open(hive_, kCmnOptsKey), kErrorSuccess);
        EXPECT_EQ(reg_.ReadFlag(key, "Flag"), on);
        EXPECT_EQ(GetOptFlag(hive_, "Flag", 1, kCmnOptsKey), on ? 1 : 0);
    }
}

TEST_F(OptStoreTest, NumbersFollowTheAtoiRule) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"300", 300},
        {"0", 0},
        {"12abc", 12},
        {"", 0},
        {"abc", 0},
        {"-42", -42},
        {"  7", 7},
        {"\t\n 8", 8},
        {"+9", 9},
        {"- 5", 0},
        {"3 4", 3},
        {"0x1F", 0},
        {"007", 7},
        {"--1", 0},
        {"12" + std::string(1, '\0') + "34", 12},
        {"999999999", 999999999},
        {"-99999999", -99999999},
    };
    for (const auto& [text, number] : cases) {
        SCOPED_TRACE("stored text \"" + text + "\"");
        Store("Number", text);
        COptKey key;
        ASSERT_EQ(key.Open(hive_, kCmnOptsKey), kErrorSuccess);
        EXPECT_EQ(reg_.ReadNumber(key, "Number"), number);
        EXPECT_EQ(GetOptNumber(hive_, "Number", kCmnOptsKey), number);
    }
}

TEST_F(OptStoreTest, ValuesLongerThanTheReaderBufferReadAsMissing) {
    COptKey key;
    ASSERT_EQ(key.OpenOrCreate(hive_, kCmnOptsKey), kErrorSuccess);

    // Flags and numbers: 9 characters fit the 10-byte buffer, 10 do not.
    ASSERT_EQ(key.SetText("Flag9", "1\0abcdefg"s), kErrorSuccess);
    ASSERT_EQ(key.SetText("Flag10", "1\0abcdefgh"s), kErrorSuccess);
    EXPECT_TRUE(reg_.ReadFlag(key, "Flag9"));
    EXPECT_FALSE(reg_.ReadFlag(key, "Flag10"));
    EXPECT_EQ(GetOptFlag(hive_, "Flag9", 1, kCmnOptsKey), 1);
    EXPECT_EQ(GetOptFlag(hive_, "Flag10", 1, kCmnOptsKey), 0);

    ASSERT_EQ(key.SetText("Num9", "000000007"), kErrorSuccess);
    ASSERT_EQ(key.SetText("Num10", "0000000007"), kErrorSuccess);
    ASSERT_EQ(key.SetText("Num15", "123456789012345"), kErrorSuccess);
    EXPECT_EQ(reg_.ReadNumber(key, "Num9"), 7);
    EXPECT_EQ(reg_.ReadNumber(key, "Num10"), 0);
    EXPECT_EQ(reg_.ReadNumber(key, "Num15"), 0);
    EXPECT_EQ(GetOptNumber(hive_, "Num9", kCmnOptsKey), 7);
    EXPECT_EQ(GetOptNumber(hive_, "Num10", kCmnOptsKey), 0);

    // Texts: 2999 characters fit the 3000-byte buffer, 3000 do not.
    const std::string longest(2999, 'x');
    ASSERT_EQ(key.SetText("Text2999", longest), kErrorSuccess);
    ASSERT_EQ(key.SetText("Text3000", longest + "y"), kErrorSuccess);
    EXPECT_EQ(reg_.ReadText(key, "Text2999"), longest);
    EXPECT_EQ(reg_.ReadText(key, "Text3000"), "");
    // The stored bytes are whole either way: only the reader refuses.
    EXPECT_EQ(ReadFile(Dir(kCmnOptsKey) / "Text3000"), longest + "y");
}

// A value that is no plain file, or one far larger than any reader takes,
// reads as missing at once: a named pipe without a writer must not hang the
// window, and a huge file must not be read or held whole.
TEST_F(OptStoreTest, ValuesThatAreNoPlainTextReadAsMissingWithoutWaiting) {
    fs::create_directories(Dir(kCmnOptsKey));
    const fs::path pipe = Dir(kCmnOptsKey) / "Pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_directory(Dir(kCmnOptsKey) / "Folder");
    fs::create_symlink("/dev/zero", Dir(kCmnOptsKey) / "Device");
    // 1 GiB without a byte on disk: only a reader that reads it all would notice.
    const fs::path huge = Dir(kCmnOptsKey) / "Huge";
    WriteFile(huge, "1");
    fs::resize_file(huge, 1ull << 30);

    for (const char* name : {"Pipe", "Folder", "Device", "Huge"}) {
        SCOPED_TRACE(name);
        auto read = std::async(std::launch::async, [&] {
            COptKey key;
            key.Open(hive_, kCmnOptsKey);
            return reg_.ReadText(key, name) + (reg_.ReadFlag(key, name) ? "on" : "") +
                   std::to_string(GetOptNumber(hive_, name, kCmnOptsKey));
        });
        if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            // Release the blocked reader so the test can end, then fail.
            const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            read.wait();
            ::close(writer);
            ADD_FAILURE() << "the reader waited for the value";
            continue;
        }
        EXPECT_EQ(read.get(), "0");
    }
}

TEST_F(OptStoreTest, TextIsReadUpToAnEmbeddedZero) {
    COptKey key;
    ASSERT_EQ(key.OpenOrCreate(hive_, kIndOptsKey), kErrorSuccess);
    ASSERT_EQ(key.SetText("CSSStyle", "blue.css\0old.css"s), kErrorSuccess);
    ASSERT_EQ(key.SetText("CSSPath", "Путь/к стилям"), kErrorSuccess);
    EXPECT_EQ(reg_.ReadText(key, "CSSStyle"), "blue.css");
    EXPECT_EQ(reg_.ReadText(key, "CSSPath"), "Путь/к стилям");
    EXPECT_EQ(reg_.ReadText(key, "Missing"), "");
}

TEST_F(OptStoreTest, QueryTextCountsTheBytesWithTheirZero) {
    COptKey key;
    ASSERT_EQ(key.OpenOrCreate(hive_, kCmnOptsKey), kErrorSuccess);
    ASSERT_EQ(key.SetText("Abc", "abc"), kErrorSuccess);
    ASSERT_EQ(key.SetText("Empty", ""), kErrorSuccess);
    ASSERT_EQ(key.SetText("Nine", "123456789"), kErrorSuccess);
    ASSERT_EQ(key.SetText("Ten", "1234567890"), kErrorSuccess);

    std::string text;
    std::size_t count = 99;
    EXPECT_EQ(key.QueryText("Abc", text, 10, count), kErrorSuccess);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(key.QueryText("Empty", text, 10, count), kErrorSuccess);
    EXPECT_EQ(text, "");
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(key.QueryText("Nine", text, 10, count), kErrorSuccess);
    EXPECT_EQ(count, 10u);

    // Every failure clears the text and the count.
    text = "stale";
    count = 99;
    EXPECT_EQ(key.QueryText("Ten", text, 10, count), kErrorMoreData);
    EXPECT_EQ(text, "");
    EXPECT_EQ(count, 0u);
    text = "stale";
    count = 99;
    EXPECT_NE(key.QueryText("Missing", text, 10, count), kErrorSuccess);
    EXPECT_EQ(text, "");
    EXPECT_EQ(count, 0u);

    key.Close();
    text = "stale";
    count = 99;
    EXPECT_NE(key.QueryText("Abc", text, 10, count), kErrorSuccess);
    EXPECT_EQ(text, "");
    EXPECT_EQ(count, 0u);
}

TEST_F(OptStoreTest, FailedOpenKeepsTheKeyHeldBefore) {
    Put(kCmnOptsKey, "Width", "111");
    Put(kBtnOptsKey, "Width", "222");
    COptKey key;
    EXPECT_NE(key.Open(hive_, kNavOptsKey), kErrorSuccess);
    EXPECT_FALSE(key.IsOpen());

    ASSERT_EQ(key.Open(hive_, kCmnOptsKey), kErrorSuccess);
    EXPECT_NE(key.Open(hive_, kNavOptsKey), kErrorSuccess);
    EXPECT_NE(key.Open(hive_, "../outside"), kErrorSuccess);
    EXPECT_TRUE(key.IsOpen());
    EXPECT_EQ(reg_.ReadNumber(key, "Width"), 111);
    // Open never creates.
    EXPECT_FALSE(fs::exists(Dir(kNavOptsKey)));

    ASSERT_EQ(key.Open(hive_, kBtnOptsKey), kErrorSuccess);
    EXPECT_EQ(reg_.ReadNumber(key, "Width"), 222);

    key.Close();
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(reg_.ReadNumber(key, "Width"), 0);
}

TEST_F(OptStoreTest, OpenOrCreateMakesTheKeyWithItsParentsAndKeepsAnExistingOne) {
    const std::string deep = "Software/Tomebox/New/Deeper/Deepest";
    {
        COptKey key;
        ASSERT_EQ(key.OpenOrCreate(hive_, deep), kErrorSuccess);
        EXPECT_TRUE(fs::is_directory(Dir(deep)));
        ASSERT_EQ(key.SetText("Value", "kept"), kErrorSuccess);
    }
    COptKey again;
    ASSERT_EQ(again.OpenOrCreate(hive_, deep), kErrorSuccess);
    EXPECT_EQ(reg_.ReadText(again, "Value"), "kept");
    COptKey reader;
    ASSERT_EQ(reader.Open(hive_, deep), kErrorSuccess);
    EXPECT_EQ(reg_.ReadText(reader, "Value"), "kept");
}

TEST_F(OptStoreTest, SetTextWithoutAHeldKeyWritesNothing) {
    COptKey key;
    EXPECT_NE(key.SetText("Width", "1"), kErrorSuccess);
    EXPECT_NE(reg_.WriteFlag(kChecked, key, "AutoSize"), kErrorSuccess);
    EXPECT_FALSE(fs::exists(root_));

    ASSERT_EQ(key.OpenOrCreate(hive_, kCmnOptsKey), kErrorSuccess);
    key.Close();
    EXPECT_NE(key.SetText("Width", "1"), kErrorSuccess);
    EXPECT_TRUE(Contents(Dir(kCmnOptsKey)).empty());
}

TEST_F(OptStoreTest, WriteFlagStoresOneOnlyForChecked) {
    const std::vector<std::pair<int, std::string>> cases = {
        {kChecked, "1"}, {kUnchecked, "0"}, {kIndeterminate, "0"}, {-1, "0"}, {3, "0"}};
    COptKey key;
    ASSERT_EQ(key.OpenOrCreate(hive_, kBtnOptsKey), kErrorSuccess);
    for (const auto& [state, stored] : cases) {
        SCOPED_TRACE("check state " + std::to_string(state));
        ASSERT_EQ(reg_.WriteFlag(state, key, "Home"), kErrorSuccess);
        // The file holds the text alone, without a terminating zero.
        EXPECT_EQ(ReadFile(Dir(kBtnOptsKey) / "Home"), stored);
        EXPECT_EQ(reg_.ReadFlag(key, "Home"), stored == "1");
    }
}

TEST_F(OptStoreTest, GetOptFlagReturnsTheGivenBitOrZero) {
    Put(kNavOptsKey, "NavSearch", "1");
    Put(kNavOptsKey, "NavFavorites", "0");
    EXPECT_EQ(GetOptFlag(hive_, "NavSearch", 0x20, kNavOptsKey), 0x20);
    EXPECT_EQ(GetOptFlag(hive_, "NavSearch", 1, kNavOptsKey), 1);
    EXPECT_EQ(GetOptFlag(hive_, "NavFavorites", 0x20, kNavOptsKey), 0);
    EXPECT_EQ(GetOptFlag(hive_, "NavPanel", 0x20, kNavOptsKey), 0);
    EXPECT_EQ(GetOptFlag(hive_, "NavSearch", 0x20, kBtnOptsKey), 0);
}

TEST_F(OptStoreTest, KeyPathsThatLeaveTheStoreAreRefused) {
    // A tempting target right beside the store root.
    const fs::path outside = tmp_.Path() / "outside";
    fs::create_directories(outside);
    WriteFile(outside / "Flag", "1");
    WriteFile(outside / "Number", "5");

    const std::vector<std::string> paths = {
        "",
        "..",
        "../outside",
        "Software/../../outside",
        "Software/Tomebox/../../../outside",
        outside.string(),
        "/",
        "Software//Tomebox",
        "Software/Tomebox/",
        "./Software",
        "Software/./Tomebox",
        "Software/Tomebox/\0CmnOpts"s,
    };
    for (const auto& path : paths) {
        SCOPED_TRACE("key path \"" + path + "\"");
        EXPECT_TRUE(hive_.KeyDir(path).empty());
        COptKey key;
        EXPECT_NE(key.Open(hive_, path), kErrorSuccess);
        EXPECT_NE(key.OpenOrCreate(hive_, path), kErrorSuccess);
        EXPECT_FALSE(key.IsOpen());
        EXPECT_EQ(GetOptFlag(hive_, "Flag", 1, path), 0);
        EXPECT_EQ(GetOptNumber(hive_, "Number", path), 0);
        EXPECT_NE(RegCreateKeyWithValues(hive_, path, {{"Flag", "0"}}), kErrorSuccess);
    }
    EXPECT_EQ(Names(tmp_.Path()), std::vector<std::string>{"outside"});
    EXPECT_EQ(Contents(outside), (Values{{"Flag", "1"}, {"Number", "5"}}));
    EXPECT_EQ(hive_.KeyDir("Software/Tomebox"), root_ / "Software" / "Tomebox");
}

TEST_F(OptStoreTest, ValueNamesThatLeaveTheKeyAreRefused) {
    Put("Software/Tomebox", "Secret", "1");
    COptKey key;
    ASSERT_EQ(key.OpenOrCreate(hive_, kCmnOptsKey), kErrorSuccess);

    EXPECT_FALSE(reg_.ReadFlag(key, "../Secret"));
    EXPECT_EQ(reg_.ReadText(key, "../Secret"), "");
    for (const std::string& name : {"../Secret"s, ""s, "."s, ".."s, ".hidden"s, "a/b"s, "a\0b"s}) {
        SCOPED_TRACE("value name \"" + name + "\"");
        EXPECT_NE(key.SetText(name, "0"), kErrorSuccess);
    }
    EXPECT_EQ(ReadFile(Dir("Software/Tomebox") / "Secret"), "1");
    EXPECT_TRUE(Contents(Dir(kCmnOptsKey)).empty());
}

TEST_F(OptStoreTest, KeyWithValuesAppearsWholeOrNotAtAll) {
    const std::string path = "Software/Tomebox/Fresh";
    for (const std::string bad : {"../escape", "", ".hidden", "a/b"}) {
        SCOPED_TRACE("value name \"" + bad + "\"");
        EXPECT_NE(RegCreateKeyWithValues(hive_, path, {{"Good", "1"}, {bad, "x"}, {"Late", "2"}}),
                  kErrorSuccess);
        EXPECT_FALSE(fs::exists(Dir(path)));
        // No half-built key is left under a hidden name either.
        EXPECT_TRUE(Names(root_ / "Software" / "Tomebox").empty());
    }
    EXPECT_FALSE(fs::exists(root_ / "Software" / "escape"));

    ASSERT_EQ(RegCreateKeyWithValues(hive_, path, {{"Good", "1"}, {"Late", "2"}}), kErrorSuccess);
    EXPECT_EQ(Contents(Dir(path)), (Values{{"Good", "1"}, {"Late", "2"}}));
    // An existing key is never replaced.
    EXPECT_NE(RegCreateKeyWithValues(hive_, path, {{"Other", "3"}}), kErrorSuccess);
    EXPECT_EQ(Contents(Dir(path)), (Values{{"Good", "1"}, {"Late", "2"}}));
    EXPECT_EQ(Names(root_ / "Software" / "Tomebox"), std::vector<std::string>{"Fresh"});
}

TEST_F(OptStoreTest, RewritesLeaveNoTemporaryFiles) {
    COptKey key;
    ASSERT_EQ(key.OpenOrCreate(hive_, kCmnOptsKey), kErrorSuccess);
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(key.SetText("Width", std::to_string(round)), kErrorSuccess);
        ASSERT_EQ(reg_.WriteFlag(round % 3, key, "AutoSize"), kErrorSuccess);
        ASSERT_EQ(key.SetText("Title", std::string(100 * round, 'a')), kErrorSuccess);
    }
    // A sub-key of the same name makes the final rename fail: the failed
    // write must take its temporary file with it.
    fs::create_directories(Dir(kCmnOptsKey) / "Sub");
    EXPECT_NE(key.SetText("Sub", "text"), kErrorSuccess);
    // The last round wrote check state 4 % 3, that is checked.
    EXPECT_EQ(Contents(Dir(kCmnOptsKey)), (Values{{"AutoSize", "1"},
                                                  {"Sub", "<dir>"},
                                                  {"Title", std::string(400, 'a')},
                                                  {"Width", "4"}}));
}

// The id of a process that has ended, for names a killed copy would leave.
pid_t EndedProcess() {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

std::string HostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

// Temporary files and key folders that a killed copy left go at the next
// start and at the next write; those of a running copy, of another machine
// sharing the folder, of another naming, links, and the user's own files stay.
TEST_F(OptStoreTest, StaleTemporariesOfAnEndedProcessAreRemovedAndNothingElse) {
    const std::string ended = std::to_string(EndedProcess());
    const std::string host = HostName();
    struct Left {
        fs::path stale;
        std::vector<fs::path> kept;
    };
    // One stale entry of the prefix (a file, or a folder holding a value)
    // beside entries that must stay.
    const auto leave = [&](const fs::path& folder, const std::string& prefix, bool asFolder) {
        fs::create_directories(folder);
        Left left{folder / (prefix + host + "-" + ended + "-Q1w2E3"), {}};
        if (asFolder) {
            fs::create_directory(left.stale);
            WriteFile(left.stale / "Width", "1");
            // Removing the folder must not reach through a link inside it.
            fs::create_symlink(folder / ("notes-" + host + "-" + ended + "-a1B2c3"),
                               left.stale / "Link");
        } else {
            WriteFile(left.stale, "stale");
        }
        for (const std::string& name : {
                 prefix + host + "-" + std::to_string(::getpid()) + "-a1B2c3", // running
                 prefix + "elsewhere-" + ended + "-a1B2c3",                    // another machine
                 prefix + host + "-" + ended + "-a1B2c", // not quite our naming
                 prefix + host + "-0" + ended + "-a1B2c3",
                 prefix + "a1B2c3",
                 "notes-" + host + "-" + ended + "-a1B2c3",
             }) {
            left.kept.push_back(folder / name);
            WriteFile(left.kept.back(), "kept");
        }
        left.kept.push_back(folder / (prefix + host + "-" + ended + "-zzzzzz"));
        fs::create_symlink(left.kept.front(), left.kept.back());
        return left;
    };
    const auto expectCleaned = [](const Left& left) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(left.stale))) << left.stale;
        for (const fs::path& kept : left.kept)
            EXPECT_TRUE(fs::exists(fs::symlink_status(kept))) << kept;
    };

    // At start: in every key folder, and beside the keys.
    const Left cmn = leave(Dir(kCmnOptsKey), ".tomebox-", false);
    const Left nav = leave(Dir(kNavOptsKey), ".tomebox-", false);
    const Left beside = leave(Dir("Software/Tomebox"), ".key-", true);
    WriteFirstRunDefaults(hive_);
    expectCleaned(cmn);
    expectCleaned(nav);
    expectCleaned(beside);

    // At the next write into a key.
    const Left ind = leave(Dir(kIndOptsKey), ".tomebox-", false);
    COptKey key;
    ASSERT_EQ(key.Open(hive_, kIndOptsKey), kErrorSuccess);
    ASSERT_EQ(key.SetText("CSSStyle", "blue.css"), kErrorSuccess);
    expectCleaned(ind);
}

// Readers on worker threads while the user-interface thread saves options:
// each read must see one whole text, the old or the new, never a part of one
// and never a missing value.
TEST_F(OptStoreTest, ConcurrentReadersSeeOnlyWholeValues) {
    constexpr int kReaders = 4;
    constexpr int kWrites = 150;
    const std::string longText(2500, 'L');
    const std::string shortText = "short";
    Put(kCmnOptsKey, "Text", longText);
    Put(kCmnOptsKey, "Number", "123456789");

    std::atomic<bool> writerDone{false};
    std::atomic<int> reads{0};
    std::atomic<int> badReads{0};
    std::latch start(kReaders + 1);
    std::vector<std::string> firstBad(kReaders);

    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&, r] {
            start.arrive_and_wait();
            do {
                COptKey key;
                const long opened = key.Open(hive_, kCmnOptsKey);
                const std::string text = reg_.ReadText(key, "Text");
                const int number = GetOptNumber(hive_, "Number", kCmnOptsKey);
                ++reads;
                if (opened != kErrorSuccess || (text != longText && text != shortText) ||
                    (number != 123456789 && number != 7)) {
                    ++badReads;
                    if (firstBad[r].empty())
                        firstBad[r] = "open " + std::to_string(opened) + ", text of " +
                                      std::to_string(text.size()) + " characters, number " +
                                      std::to_string(number);
                }
            } while (!writerDone.load());
        });
    }

    long writeFailures = 0;
    {
        COptKey key;
        EXPECT_EQ(key.Open(hive_, kCmnOptsKey), kErrorSuccess);
        start.arrive_and_wait();
        for (int i = 0; i < kWrites; ++i) {
            const bool odd = i % 2 != 0;
            writeFailures += key.SetText("Text", odd ? longText : shortText) != kErrorSuccess;
            writeFailures += key.SetText("Number", odd ? "123456789" : "7") != kErrorSuccess;
        }
        writerDone = true;
    }
    for (auto& reader : readers)
        reader.join();

    EXPECT_EQ(writeFailures, 0);
    EXPECT_GE(reads.load(), kReaders);
    EXPECT_EQ(badReads.load(), 0);
    for (const auto& bad : firstBad)
        EXPECT_EQ(bad, "") << "a reader saw a partial value";
    EXPECT_EQ(Names(Dir(kCmnOptsKey)), (std::vector<std::string>{"Number", "Text"}));
}

TEST(RegHiveTest, DefaultRootFollowsTheConfigFolder) {
    const auto restore = [](const char* name, const std::optional<std::string>& value) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    };
    const auto saved = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto config = saved("XDG_CONFIG_HOME");
    const auto home = saved("HOME");

    setenv("HOME", "/home/someone", 1);
    setenv("XDG_CONFIG_HOME", "/etc/xdg-test", 1);
    EXPECT_EQ(RegHive::DefaultRoot(), fs::path("/etc/xdg-test/Tomebox/registry"));
    // A relative or empty setting is ignored, as the base directory rules say.
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    EXPECT_EQ(RegHive::DefaultRoot(), fs::path("/home/someone/.config/Tomebox/registry"));
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(RegHive::DefaultRoot(), fs::path("/home/someone/.config/Tomebox/registry"));

    restore("XDG_CONFIG_HOME", config);
    restore("HOME", home);
}

} // namespace
} // namespace tbx
