#pragma once
// The build window: the program's one top-level window. It holds the inputs
// of a build, shows the latest message, starts compile jobs and answers
// their requests on the user-interface thread.

#include "compile/compile_job.h"
#include "controls/dialogs.h"
#include "controls/job_dialog.h"
#include "platform/registry.h"
#include "settings/opt_store.h"

#include <QString>
#include <functional>
#include <string>

class QAction;
class QLineEdit;

namespace tbx {

class IShell;

// Command of the about entry, as the window menu numbered it.
inline constexpr int kIdmAboutBox = 0x10;

class CBuildDlg : public JobDialog {
    Q_OBJECT
public:
    // programFolder ends with "/" and holds hhc.
    CBuildDlg(RegHive hive, IDialogs& dialogs, IShell& shell, std::string programFolder,
              QWidget* parent = nullptr);

    // Handlers, public so that tests can drive them as a click would.
    void OnInitDialog();
    void OnBrowsePage();
    void OnOptions();
    void OnBuild();
    void OnDecompile();
    void OnOpenIndex();
    void OnExit();
    void OnSysCommand(int command);
    // Fills the title field for the page and returns the log pane's report.
    QString ReadPageTitleAndReport(const QString& pagePath, const QString& fileName);
    // The page field lost the focus: a page typed into it fills the output
    // and title fields as "Обзор ..." does, except where the user typed.
    void OnPageEdited();

    // A file named at start or dropped on the window: a page fills the
    // window as "Обзор ..." does, a help file opens the decompile window on
    // it, a folder opens the index window listing it; a missing one is said
    // in the log pane.
    void OpenFile(const QString& path);
    // The decompile window, on helpFile unless it is empty.
    void OpenDecompileWindow(const QString& helpFile);
    // Who shows help files: a help file named at start or dropped on the
    // window, and the one a build makes when the options ask to open it.
    // Without one, a help file opens the decompile window and a build hands
    // its file to the desktop.
    using HelpViewer = std::function<void(const QString& helpFile)>;
    void SetHelpViewer(HelpViewer viewer);

    // The about entry of the context menu, for tests.
    QAction* AboutAction() const { return aboutAction_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // What "Обзор ..." does once a page is chosen. With keepTyped, the output
    // and title fields are filled only while they hold what was filled in
    // for the previous page.
    void FillFromPage(const QString& page, const QString& fileName, bool keepTyped = false);
    // The index window, listing folder unless it is empty; then the hand-off.
    void OpenIndexWindow(const QString& folder);

    // Asks for another output folder when ChangeChmOutDir is set: the folder
    // picked, ending with "/", or empty.
    QString AskOutputFolder();

    RegHive hive_;
    IShell& shell_;
    std::string programFolder_;
    QLineEdit* m_editTitle = nullptr;
    QLineEdit* m_editInput = nullptr;
    QLineEdit* m_editOutput = nullptr;
    QAction* aboutAction_ = nullptr;
    // What the fields held when last filled in for a page.
    QString filledPage_, filledOutput_, filledTitle_;
    COptReg m_optReg;
    COpenFileHelper m_fileDlg;
    CompileJobs* m_jobs = nullptr; // owned by the job window
    HelpViewer helpViewer_;
};

} // namespace tbx
