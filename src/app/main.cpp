#include "app/converter_app.h"
#include "controls/dialogs.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "res/images.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tomebox"));
    QApplication::setWindowIcon(tbx::ProgramIcon());

    tbx::QtDialogs dialogs;
    tbx::DesktopShell shell;
    tbx::CConverterApp converter(tbx::InstanceLock::DefaultFolders(),
                                 tbx::RegHive(tbx::RegHive::DefaultRoot()), dialogs, shell,
                                 tbx::ProgramFolder());
    converter.InitInstance();
    return 0;
}
