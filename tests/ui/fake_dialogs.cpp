#include "fake_dialogs.h"

#include <gtest/gtest.h>
#include <utility>

namespace tbx::test {
namespace {

const char* KindName(ScriptedDialogs::Kind kind) {
    switch (kind) {
    case ScriptedDialogs::Kind::YesNo:
        return "yes/no question";
    case ScriptedDialogs::Kind::Message:
        return "message box";
    case ScriptedDialogs::Kind::OpenFile:
        return "open-file picker";
    case ScriptedDialogs::Kind::Directory:
        return "folder picker";
    }
    return "?";
}

} // namespace

ScriptedDialogs::~ScriptedDialogs() {
    EXPECT_TRUE(script_.empty()) << script_.size() << " scripted answer(s) never asked for, first "
                                 << KindName(script_.front().kind);
}

void ScriptedDialogs::ExpectYesNo(bool answer, std::function<void()> whileOpen) {
    script_.push_back({Kind::YesNo, answer, {}, std::move(whileOpen)});
}

void ScriptedDialogs::ExpectMessage() {
    script_.push_back({Kind::Message, false, {}, {}});
}

void ScriptedDialogs::ExpectOpenFile(QString path) {
    script_.push_back({Kind::OpenFile, false, std::move(path), {}});
}

void ScriptedDialogs::ExpectDirectory(QString path) {
    script_.push_back({Kind::Directory, false, std::move(path), {}});
}

ScriptedDialogs::Answer ScriptedDialogs::Next(Call call) {
    call.thread = QThread::currentThread();
    const Kind kind = call.kind;
    const QString text = call.text;
    calls_.push_back(std::move(call));
    if (script_.empty() || script_.front().kind != kind) {
        ADD_FAILURE() << "unexpected " << KindName(kind) << ": " << text.toStdString();
        return {kind, false, {}, {}};
    }
    Answer answer = std::move(script_.front());
    script_.pop_front();
    if (answer.whileOpen)
        answer.whileOpen();
    return answer;
}

bool ScriptedDialogs::AskYesNo(QWidget* owner, const QString& text) {
    return Next({Kind::YesNo, text, {}, MessageIcon::None, owner, nullptr, {}}).yes;
}

void ScriptedDialogs::ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) {
    Next({Kind::Message, text, {}, icon, owner, nullptr, {}});
}

QString ScriptedDialogs::PickOpenFile(QWidget* owner, const QString& title,
                                      const QList<FileFilter>& filters,
                                      const QString& startFolder) {
    return Next({Kind::OpenFile, title, filters, MessageIcon::None, owner, nullptr, startFolder})
        .path;
}

QString ScriptedDialogs::PickDirectory(QWidget* owner, const QString& title,
                                       const QString& startFolder) {
    return Next({Kind::Directory, title, {}, MessageIcon::None, owner, nullptr, startFolder}).path;
}

} // namespace tbx::test
