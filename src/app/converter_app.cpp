#include "app/converter_app.h"

#include "app/build_dlg.h"
#include "controls/dialogs.h"
#include "platform/instance_lock.h"
#include "res/strings.h"

#include <QString>
#include <utility>

namespace tbx {

CConverterApp::CConverterApp(std::vector<std::string> lockFolders, RegHive hive, IDialogs& dialogs,
                             IShell& shell, std::string programFolder)
    : lockFolders_(std::move(lockFolders)), hive_(std::move(hive)), dialogs_(dialogs),
      shell_(shell), programFolder_(std::move(programFolder)) {}

bool CConverterApp::InitInstance() {
    InstanceLock lock(lockFolders_);
    if (!lock.Acquire()) {
        // The first copy is neither raised nor told; this one just ends.
        dialogs_.ShowMessage(nullptr, QString::fromStdString(LoadString(121)), MessageIcon::None);
        return false;
    }
    {
        CBuildDlg dialog(hive_, dialogs_, shell_, programFolder_);
        dialog.exec();
    }
    lock.Release();
    return true;
}

} // namespace tbx
