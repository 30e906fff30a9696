#pragma once
// Start-up: one running copy per user, then the build window until it ends.

#include "platform/registry.h"

#include <string>
#include <vector>

namespace tbx {

class IDialogs;
class IShell;

class CConverterApp {
public:
    // lockFolders: where the single-instance lock may live, in order.
    CConverterApp(std::vector<std::string> lockFolders, RegHive hive, IDialogs& dialogs,
                  IShell& shell, std::string programFolder);

    // What the build window opens once it shows: file (a page, a help file
    // or a folder, see CBuildDlg::OpenFile), or the decompile window on file
    // when decompile is set.
    void OpenAtStart(std::string file, bool decompile);

    // Runs the build window modally and returns true once it has ended; false
    // when another copy is running, after telling the user so.
    bool InitInstance();

private:
    std::vector<std::string> lockFolders_;
    RegHive hive_;
    IDialogs& dialogs_;
    IShell& shell_;
    std::string programFolder_;
    std::string startFile_;
    bool startDecompile_ = false;
};

} // namespace tbx
