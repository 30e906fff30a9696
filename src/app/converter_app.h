#pragma once
// Start-up: one running copy per user. It runs the build window and the
// help viewer windows until the last of them closes; a later start hands
// its file to it instead of running beside it.

#include "platform/registry.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace tbx {

class CBuildDlg;
class IDialogs;
class IShell;
class ViewerWindow;

// The socket beside the lock where the running copy takes later starts' files.
inline constexpr const char* kInstanceSocketName = "{FC534CF2-C497-52C3-A180-1210F527CC3E}.socket";

class CConverterApp : public QObject {
    Q_OBJECT
public:
    // lockFolders: where the single-instance lock may live, in order.
    CConverterApp(std::vector<std::string> lockFolders, RegHive hive, IDialogs& dialogs,
                  IShell& shell, std::string programFolder);
    ~CConverterApp() override;

    // What the program opens once it runs: file (see Open), or the
    // decompile window on file when decompile is set.
    void OpenAtStart(std::string file, bool decompile);

    // Runs the windows until the last one has closed and returns true.
    // False when another copy is running: the start's file goes to it, and
    // only when it cannot take it is message 121 shown.
    bool InitInstance();

    // A help file opens a viewer window; --decompile, the decompile window;
    // anything else (a page, a folder, nothing) the build window, as it
    // opens that file.
    void Open(const QString& file, bool decompile);
    // The help file in a new viewer window, at topic (a stored name) if given.
    ViewerWindow* OpenViewer(const QString& helpFile, const QString& topic = {});

    // The windows open now, for tests.
    CBuildDlg* BuildWindow() const { return build_; }
    std::size_t ViewerCount() const { return viewers_.size(); }

signals:
    // The last window has closed: the program ends.
    void AllClosed();

private:
    CBuildDlg& ShowBuildWindow();
    void Listen(const std::string& folder);
    void OnHandOff(QLocalSocket* socket);
    // Hands file to the copy listening in folder; true when it took it.
    bool HandOff(const std::string& folder) const;
    void CheckEnd();

    std::vector<std::string> lockFolders_;
    RegHive hive_;
    IDialogs& dialogs_;
    IShell& shell_;
    std::string programFolder_;
    std::string startFile_;
    bool startDecompile_ = false;
    CBuildDlg* build_ = nullptr; // deleted once it has ended
    std::vector<QPointer<ViewerWindow>> viewers_;
    QLocalServer* server_ = nullptr;
};

} // namespace tbx
