#include "app/converter_app.h"

#include "app/build_dlg.h"
#include "controls/dialogs.h"
#include "platform/instance_lock.h"
#include "res/strings.h"

#include <QString>
#include <QTimer>
#include <utility>

namespace tbx {

CConverterApp::CConverterApp(std::vector<std::string> lockFolders, RegHive hive, IDialogs& dialogs,
                             IShell& shell, std::string programFolder)
    : lockFolders_(std::move(lockFolders)), hive_(std::move(hive)), dialogs_(dialogs),
      shell_(shell), programFolder_(std::move(programFolder)) {}

void CConverterApp::OpenAtStart(std::string file, bool decompile) {
    startFile_ = std::move(file);
    startDecompile_ = decompile;
}

bool CConverterApp::InitInstance() {
    InstanceLock lock(lockFolders_);
    if (!lock.Acquire()) {
        // The first copy is neither raised nor told; this one just ends.
        dialogs_.ShowMessage(nullptr, QString::fromStdString(LoadString(121)), MessageIcon::None);
        return false;
    }
    {
        CBuildDlg dialog(hive_, dialogs_, shell_, programFolder_);
        // Once the window shows, so that what it opens stands over it.
        const QString file = QString::fromStdString(startFile_);
        if (startDecompile_)
            QTimer::singleShot(0, &dialog, [&dialog, file] { dialog.OpenDecompileWindow(file); });
        else if (!file.isEmpty())
            QTimer::singleShot(0, &dialog, [&dialog, file] { dialog.OpenFile(file); });
        dialog.exec();
    }
    lock.Release();
    return true;
}

} // namespace tbx
