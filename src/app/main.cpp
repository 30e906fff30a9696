#include "app/command_line.h"
#include "app/converter_app.h"
#include "app/russian_ui.h"
#include "controls/dialogs.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "res/images.h"
#include "viewer/help_scheme.h"

#include <QApplication>
#include <QDir>
#include <QStringList>
#include <cstdlib>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> Arguments(int argc, char* argv[]) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

// Qt's own options (-platform, -style ...) start with one dash.
bool MayHoldToolkitOptions(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--")
            return false;
        if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-')
            return true;
    }
    return false;
}

// Help, version and a wrong command line need no window, so they work
// without a display too. Returns the exit status, or -1 to go on.
int PrintedAndDone(const tbx::CommandLine& line) {
    switch (line.action) {
    case tbx::CommandLine::Action::Help:
        std::cout << tbx::CommandLineHelp();
        return 0;
    case tbx::CommandLine::Action::Version:
        std::cout << tbx::VersionText(tbx::ProgramFolder());
        return 0;
    case tbx::CommandLine::Action::Error:
        std::cerr << "tomebox: " << line.error << "\n" << tbx::CommandLineHelp();
        return 2;
    case tbx::CommandLine::Action::Run:
        break;
    }
    return -1;
}

// Chromium refuses to run its sandbox as root (a container, a live
// system); the viewer then runs without it rather than not at all.
void AllowWebEngineAsRoot() {
    if (::geteuid() == 0)
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
}

} // namespace

int main(int argc, char* argv[]) {
    tbx::UseMessageCatalogue(tbx::ProgramFolder());
    const std::vector<std::string> args = Arguments(argc, argv);
    const tbx::CommandLine early = tbx::ParseCommandLine(args, {});
    if (early.action != tbx::CommandLine::Action::Error || !MayHoldToolkitOptions(args)) {
        if (const int status = PrintedAndDone(early); status >= 0)
            return status;
    }

    AllowWebEngineAsRoot();
    tbx::viewer::RegisterHelpSchemes();
    QApplication app(argc, argv);
    // The application name is the X11 window class, which the desktop
    // entry names as StartupWMClass; the desktop file name is the Wayland
    // app id. Both let a dock match the window to its launcher.
    QApplication::setApplicationName(QStringLiteral("Tomebox"));
    QApplication::setDesktopFileName(QStringLiteral("org.example.tomebox"));
    QApplication::setWindowIcon(tbx::ProgramIcon());
    if (!tbx::InstallRussianQtTranslation(app))
        std::cerr << "tomebox: "
                  << tbx::Tr("Qt's Russian translation (qtbase_ru) is not installed; standard "
                             "buttons stay in English (install qt6-translations-l10n)")
                  << "\n";

    // The toolkit has taken its own options (-platform, -style ...) out by now.
    std::vector<std::string> rest;
    for (const QString& arg : QApplication::arguments().mid(1))
        rest.push_back(arg.toStdString());
    const tbx::CommandLine line = tbx::ParseCommandLine(rest, QDir::currentPath().toStdString());
    if (const int status = PrintedAndDone(line); status >= 0)
        return status;

    tbx::QtDialogs dialogs;
    tbx::DesktopShell shell;
    tbx::CConverterApp converter(tbx::InstanceLock::DefaultFolders(),
                                 tbx::RegHive(tbx::RegHive::DefaultRoot()), dialogs, shell,
                                 tbx::ProgramFolder());
    converter.OpenAtStart(line.file, line.decompile);
    converter.InitInstance();
    return 0;
}
