#pragma once
// Scripted stand-ins for the modal services and the desktop shell. Answers
// are queued in the order the window should ask; any question, message or
// picker beyond or against the script fails the test.

#include "controls/dialogs.h"
#include "platform/shell.h"
#include "support/scripted_host.h"

#include <QList>
#include <QString>
#include <QThread>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tbx::test {

class ScriptedDialogs : public IDialogs {
public:
    enum class Kind { YesNo, Message, OpenFile, Directory };

    // What the window asked, in order.
    struct Call {
        Kind kind;
        QString text; // question or message text, or picker title
        QList<FileFilter> filters;
        MessageIcon icon = MessageIcon::None;
        QWidget* owner = nullptr;
        QThread* thread = nullptr;
        QString startFolder; // pickers only
    };

    ~ScriptedDialogs() override;

    // whileOpen runs as if the user did something while the box is shown.
    void ExpectYesNo(bool answer, std::function<void()> whileOpen = {});
    void ExpectMessage();
    void ExpectOpenFile(QString path);
    void ExpectDirectory(QString path);

    const std::vector<Call>& Calls() const { return calls_; }
    bool ScriptDone() const { return script_.empty(); }

    bool AskYesNo(QWidget* owner, const QString& text) override;
    void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) override;
    QString PickOpenFile(QWidget* owner, const QString& title, const QList<FileFilter>& filters,
                         const QString& startFolder) override;
    QString PickDirectory(QWidget* owner, const QString& title,
                          const QString& startFolder) override;

private:
    struct Answer {
        Kind kind;
        bool yes = false;
        QString path;
        std::function<void()> whileOpen;
    };
    // Records the call and hands out the next answer; fails the test and
    // answers No / cancel when the script holds no answer of that kind.
    Answer Next(Call call);

    std::deque<Answer> script_;
    std::vector<Call> calls_;
};

// Records what would have been opened.
using FakeShell = RecordingShell;

} // namespace tbx::test
