#pragma once
// The build window: the program's one top-level window. It holds the inputs
// of a build, shows the latest message, starts compile jobs and answers
// their requests on the user-interface thread.

#include "build/compile_job.h"
#include "build/job_host.h"
#include "controls/dialogs.h"
#include "platform/registry.h"
#include "settings/opt_store.h"

#include <QDialog>
#include <QString>
#include <QTimer>
#include <atomic>
#include <string>

class QAction;
class QLineEdit;

namespace tbx {

class BusyAnimation;
class CMyRichEditCtrl;
class IShell;

// Command of the about entry, as the window menu numbered it.
inline constexpr int kIdmAboutBox = 0x10;

class CBuildDlg : public QDialog, public IJobHost {
    Q_OBJECT
public:
    // programFolder ends with "/" and holds hhc.
    CBuildDlg(RegHive hive, IDialogs& dialogs, IShell& shell, std::string programFolder,
              QWidget* parent = nullptr);
    // Waits for running jobs, answering their requests meanwhile.
    ~CBuildDlg() override;

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

    // IJobHost: callable from any thread; runs on the user-interface thread.
    std::string ReadField(int controlId) override;
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void StartBusy() override;
    void StopBusy() override;
    void EndDialog(int result) override;
    ScreenSize Screen() override;

    // The about entry of the context menu, for tests.
    QAction* AboutAction() const { return aboutAction_; }
    // True from the first close request on.
    bool Closing() const { return closing_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Runs f on the user-interface thread and waits for it there.
    template <typename F> void OnUiThread(F&& f);

    // Ends the window with result once every job has ended: stops the jobs
    // (their questions, messages and animation requests return at once from
    // then on) and keeps serving the event loop until they are over. True
    // when the window ended at once.
    bool EndWindow(int result);
    // Closes the window if nothing holds it open any more.
    bool TryFinish();

    // Counts the boxes and pickers this window has open.
    class ModalScope;

    RegHive hive_;
    IDialogs& dialogs_;

    QLineEdit* m_editTitle = nullptr;
    QLineEdit* m_editInput = nullptr;
    QLineEdit* m_editOutput = nullptr;
    CMyRichEditCtrl* m_log = nullptr;
    BusyAnimation* m_anim = nullptr;
    QAction* aboutAction_ = nullptr;
    COptReg m_optReg;
    COpenFileHelper m_fileDlg;

    int modalDepth_ = 0;
    bool ending_ = false;   // an end was asked for
    bool finished_ = false; // the window has ended
    int endResult_ = 0;
    QTimer endPoll_;
    // Read by job threads: once set, requests return at once without a window.
    std::atomic<bool> closing_{false};

    // Last, so that it is destroyed first, while the window still stands.
    CompileJobs jobs_;
};

} // namespace tbx
