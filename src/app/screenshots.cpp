// Takes the README's screenshots: the three jobs on a small Russian site,
// with the real hhc and hh beside this program. Run it through
// scripts/screenshots.sh, which starts it under Xvfb:
//   take_screenshots OUTPUT_FOLDER
// The settings live in a temporary folder, so the user's are not touched.

#include "app/build_dlg.h"
#include "app/russian_ui.h"
#include "controls/dialog_builder.h"
#include "controls/dialogs.h"
#include "controls/log_pane.h"
#include "decompile/decompile_dlg.h"
#include "index/index_dlg.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "res/images.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "viewer/help_scheme.h"
#include "viewer/viewer_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace tbx;

// Nothing is asked while the pictures are taken: every option that would
// ask is off, so a question here is a fault.
class NoQuestions : public IDialogs {
public:
    bool AskYesNo(QWidget*, const QString& text) override { return Unexpected(text); }
    void ShowMessage(QWidget*, const QString& text, MessageIcon) override { Unexpected(text); }
    QString PickOpenFile(QWidget*, const QString& title, const QList<FileFilter>&,
                         const QString&) override {
        Unexpected(title);
        return {};
    }
    QString PickDirectory(QWidget*, const QString& title, const QString&) override {
        Unexpected(title);
        return {};
    }

private:
    static bool Unexpected(const QString& text) {
        std::fprintf(stderr, "take_screenshots: unexpected question: %s\n", qPrintable(text));
        return false;
    }
};

class NoOpener : public IShell {
public:
    int Open(const std::string&) override { return kLaunchOk; }
};

const std::vector<std::pair<std::string, std::string>> kPages = {
    {"vvedenie.htm", "Введение"},
    {"ustanovka.htm", "Установка программы"},
    {"pervye-shagi.htm", "Первые шаги"},
    {"sborka.htm", "Сборка справки из сайта"},
    {"razborka.htm", "Извлечение файлов из справки"},
    {"indeks.htm", "Страница содержания каталога"},
    {"nastrojki.htm", "Настройки окна справки"},
    {"voprosy.htm", "Вопросы и ответы"},
};

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A start page linking every other page.
std::string MakeSite(const std::string& folder) {
    std::string links;
    for (const auto& [name, title] : kPages) {
        Write(folder + name,
              "<html><head><meta charset=\"utf-8\"><title>" + title + "</title></head><body><h1>" +
                  title + "</h1><p>Текст раздела «" + title +
                  "».</p><p><a href=\"index.htm\">Содержание</a></p></body></html>\n");
        links += "<li><a href=\"" + name + "\">" + title + "</a></li>\n";
    }
    Write(folder + "index.htm", "<html><head><meta charset=\"utf-8\"><title>Руководство "
                                "пользователя</title></head><body><h1>Содержание</h1><ul>\n" +
                                    links + "</ul></body></html>\n");
    return folder + "index.htm";
}

void SetOptions(const RegHive& hive, const char* key,
                std::initializer_list<std::pair<const char*, const char*>> values) {
    COptKey opened;
    opened.OpenOrCreate(hive, key);
    for (const auto& [name, text] : values)
        opened.SetText(name, text);
}

bool WaitUntil(const std::function<bool()>& done, int ms = 60000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

QString PaneText(const QWidget& window, int id) {
    return FindControl<CMyRichEditCtrl>(window, id)->toPlainText();
}

bool Shoot(QWidget& window, const QString& file) {
    window.show();
    window.raise();
    WaitUntil([] { return false; }, 300); // let it paint
    if (window.grab().save(file)) {
        std::printf("%s\n", qPrintable(file));
        return true;
    }
    std::fprintf(stderr, "take_screenshots: cannot write %s\n", qPrintable(file));
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    viewer::RegisterHelpSchemes();
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: take_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    QApplication::setWindowIcon(ProgramIcon());
    InstallRussianQtTranslation(app);
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath() + "/";
    QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/пример-XXXXXX"));
    const std::string root = temp.path().toStdString() + "/";
    const std::string site = root + "Руководство/";
    const std::string extracted = root + "Извлечено/";
    QDir().mkpath(QString::fromStdString(site));

    const RegHive hive(root + "registry");
    WriteFirstRunDefaults(hive);
    SetOptions(hive, kCmnOptsKey, {{"OpenAfterCompile", "0"}, {"ChangeChmOutDir", "0"}});
    SetOptions(hive, kDecOptsKey, {{"OpnDecDir", "0"}, {"ChgDecDir", "0"}});
    // The viewer's picture shows a search.
    SetOptions(hive, kNavOptsKey, {{"NavPanel", "1"}, {"NavSearch", "1"}});
    NoQuestions dialogs;
    NoOpener shell;
    const std::string programFolder = ProgramFolder();
    const std::string page = MakeSite(site);
    bool ok = true;

    CBuildDlg build(hive, dialogs, shell, programFolder);
    build.OpenFile(QString::fromStdString(page));
    build.OnBuild();
    // The report follows message 111 on the lines below it; the window is
    // made taller so that all of it shows.
    ok &= WaitUntil([&] {
        return PaneText(build, kIdBuildLog).startsWith(QString::fromStdString(LoadString(111)));
    });
    build.resize(build.size() + QSize(0, 90));
    ok &= Shoot(build, out + "build.png");
    build.hide();

    CDecompileDlg decompile(hive, dialogs, shell, programFolder);
    decompile.ChooseFile(QString::fromStdString(site + "index.chm"));
    FindControl<QLineEdit>(decompile, kIdDecFolderEdit)->setText(QString::fromStdString(extracted));
    decompile.OnDecompile();
    ok &= WaitUntil(
        [&] { return PaneText(decompile, kIdDecLog) == QString::fromStdString(LoadString(119)); });
    ok &= Shoot(decompile, out + "decompile.png");
    decompile.hide();

    // The index window enlarged, as one would for a folder of many pages.
    CIndexDlg index(hive, dialogs, programFolder);
    index.ListFolder(QString::fromStdString(extracted));
    index.resize(index.size() + QSize(160, 60));
    auto* list = FindControl<QTreeWidget>(index, kIdIndexPages);
    list->setCurrentItem(list->topLevelItem(2));
    ok &= Shoot(index, out + "index.png");
    index.hide();

    // The viewer on the help file built above, a search done.
    ViewerWindow viewer(shell);
    bool opened = false, shown = false, searched = false;
    QObject::connect(&viewer, &ViewerWindow::Opened, [&] { opened = true; });
    QObject::connect(&viewer, &ViewerWindow::TopicShown, [&] { shown = true; });
    QObject::connect(&viewer, &ViewerWindow::SearchFinished, [&] { searched = true; });
    viewer.OpenHelpFile(QString::fromStdString(site + "index.chm"));
    viewer.show();
    ok &= WaitUntil([&] { return opened && shown; });
    if (viewer.SearchField()) {
        viewer.NavTabs()->setCurrentWidget(viewer.SearchField()->parentWidget());
        viewer.SearchField()->setText(QStringLiteral("справки"));
        viewer.OnListTopics();
        ok &= WaitUntil([&] { return searched; });
        shown = false;
        viewer.SearchHits()->setCurrentItem(viewer.SearchHits()->topLevelItem(0));
        viewer.OnDisplayHit();
        ok &= WaitUntil([&] { return shown; });
    }
    viewer.resize(900, 560);
    ok &= Shoot(viewer, out + "viewer.png");
    viewer.hide();

    if (!ok)
        std::fprintf(stderr, "take_screenshots: a job did not finish; see the pictures\n");
    return ok ? 0 : 1;
}
