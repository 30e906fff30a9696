#pragma once
// Scripted stand-ins for a job's window and the desktop opener: answers come
// from a queue, and a question nobody expected fails the test.

#include "jobs/job_host.h"
#include "platform/shell.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tbx::test {

// A host that answers from a script and records what the job asked of it.
class ScriptedHost : public IJobHost {
public:
    std::string ReadField(int id) override {
        std::lock_guard lock(mutex_);
        return fields[id];
    }
    void ShowMessage(const std::string& text) override {
        std::lock_guard lock(mutex_);
        messages.push_back(text);
    }
    void ShowProgress(const std::string& text) override {
        std::lock_guard lock(mutex_);
        progress.push_back(text);
    }
    bool AskYesNo(const std::string& text) override {
        std::lock_guard lock(mutex_);
        questions.push_back(text);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void StartBusy() override {
        std::lock_guard lock(mutex_);
        ++busyStarts;
    }
    void StopBusy() override {
        std::lock_guard lock(mutex_);
        ++busyStops;
    }
    void EndDialog(int result) override {
        std::lock_guard lock(mutex_);
        endResults.push_back(result);
    }
    ScreenSize Screen() override { return {1024, 768}; }

    int Count(const std::string& text) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count(messages.begin(), messages.end(), text));
    }
    // Messages whose first line is firstLine.
    int CountHeaded(const std::string& firstLine) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(messages.begin(), messages.end(), [&](const auto& m) {
            return m == firstLine || m.starts_with(firstLine + "\n");
        }));
    }
    std::vector<std::string> Progress() {
        std::lock_guard lock(mutex_);
        return progress;
    }

    std::mutex mutex_;
    std::map<int, std::string> fields;
    std::vector<std::string> messages;
    std::vector<std::string> progress;
    std::vector<std::string> questions;
    std::deque<bool> answers;
    std::vector<int> endResults;
    int busyStarts = 0;
    int busyStops = 0;
};

// Records what was opened; the opener's and the browser's results are set
// by the test. ran holds each browser command with its target appended.
class RecordingShell : public IShell {
public:
    int Open(const std::string& target) override {
        std::lock_guard lock(mutex_);
        opened.push_back(target);
        return openResult;
    }
    std::string DefaultHandlerFor(const std::string&) override { return handler; }
    std::string HtmlHandlerCommand() override { return browser; }
    int RunCommand(const std::string& command, const std::string& target) override {
        std::lock_guard lock(mutex_);
        ran.push_back(command + "|" + target);
        return runResult;
    }
    // A copy of what was opened, safe while jobs still run.
    std::vector<std::string> Opened() {
        std::lock_guard lock(mutex_);
        return opened;
    }

    std::mutex mutex_;
    std::vector<std::string> opened;
    std::vector<std::string> ran;
    int openResult = kLaunchOk;
    int runResult = kLaunchOk;
    std::string browser;
    std::string handler; // the desktop file named for every file type
};

// Polls condition until it holds; false after twenty seconds.
inline bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace tbx::test
