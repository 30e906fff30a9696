#pragma once
// The modal questions, message boxes and pickers the windows use, behind one
// small interface so that tests can script the answers.

#include <QList>
#include <QString>

class QWidget;

namespace tbx {

enum class MessageIcon { None, Information, Warning, Error };

// One entry of a file picker's type list.
struct FileFilter {
    QString description; // what the user sees, e.g. "Все файлы (*.*)"
    QString patterns;    // space-separated, e.g. "*.htm *.html"
};

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // A question with Yes and No buttons and the question icon; true for Yes.
    virtual bool AskYesNo(QWidget* owner, const QString& text) = 0;
    // A message with an OK button.
    virtual void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) = 0;
    // Full path of an existing file, or empty when the user cancels. The
    // pickers open in startFolder, or where the last pick ended when it is empty.
    virtual QString PickOpenFile(QWidget* owner, const QString& title,
                                 const QList<FileFilter>& filters, const QString& startFolder) = 0;
    // An existing folder as the picker gives it, or empty when the user cancels.
    virtual QString PickDirectory(QWidget* owner, const QString& title,
                                  const QString& startFolder) = 0;
};

// The real boxes and pickers, captioned "Tomebox!".
class QtDialogs : public IDialogs {
public:
    bool AskYesNo(QWidget* owner, const QString& text) override;
    void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) override;
    QString PickOpenFile(QWidget* owner, const QString& title, const QList<FileFilter>& filters,
                         const QString& startFolder) override;
    QString PickDirectory(QWidget* owner, const QString& title,
                          const QString& startFolder) override;

private:
    // startFolder, else the folder of the last pick, else the home folder.
    QString StartIn(const QString& startFolder) const;

    QString lastFolder_;
};

// The chosen folder ending with "/" (the root "/" as it is), or empty when
// the user cancels or the choice is not an existing folder. The picker opens
// in startFolder when it is given.
QString PickFolder(IDialogs& dialogs, QWidget* owner, const QString& title,
                   const QString& startFolder = {});

// Where a picker for the path in a field opens (PickerStartFolder).
QString StartFolderFor(const QString& fieldPath);

// The open-file picker of the build and decompile windows, titled from the
// string table.
class COpenFileHelper {
public:
    explicit COpenFileHelper(IDialogs& dialogs) : dialogs_(dialogs) {}

    // startFolder: where the picker opens; empty for the last folder used.
    void Setup(QWidget* owner, QList<FileFilter> filters, int titleId,
               const QString& startFolder = {});
    // 1 when the user chose a file, 0 when they cancelled.
    int Show();

    // The chosen file's full path and its name without the folder; empty
    // until a file is chosen.
    const QString& File() const { return file_; }
    const QString& FileTitle() const { return fileTitle_; }

private:
    IDialogs& dialogs_;
    QWidget* owner_ = nullptr;
    QList<FileFilter> filters_;
    int titleId_ = 0;
    QString startFolder_;
    QString file_;
    QString fileTitle_;
};

} // namespace tbx
