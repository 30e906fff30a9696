#pragma once
// A window whose jobs run on worker threads. It answers their requests on
// the user-interface thread and, when it closes, stops the jobs and ends only
// once every one of them is over.

#include "jobs/job_host.h"

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class QAction;

namespace tbx {

class BusyAnimation;
class CMyRichEditCtrl;
class IDialogs;

class JobDialog : public QDialog, public IJobHost {
    Q_OBJECT
public:
    JobDialog(IDialogs& dialogs, QWidget* parent, Qt::WindowFlags flags);
    // Waits for running jobs, answering their requests meanwhile.
    ~JobDialog() override;

    // IJobHost: callable from any thread; runs on the user-interface thread.
    std::string ReadField(int controlId) override;
    void ShowMessage(const std::string& text) override;
    void ShowProgress(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void StartBusy() override;
    void StopBusy() override;
    void EndDialog(int result) override;
    ScreenSize Screen() override;

    // True from the first close request on.
    bool Closing() const { return closing_; }

    // "Остановить" in the context menu: stops the window's jobs as closing
    // it would, but the window stays.
    void OnStop();
    QAction* StopAction() const { return stopAction_; }

protected:
    // The jobs, log pane and animation (may be null) this window serves;
    // set once by the window's constructor.
    void AttachJobs(std::unique_ptr<IJobSet> jobs, CMyRichEditCtrl* log, BusyAnimation* anim);

    // Ends the window with result once every job has ended. True when it
    // ended at once.
    bool EndWindow(int result);

    void closeEvent(QCloseEvent* event) override;
    // Offers the stop entry only while a job runs.
    bool event(QEvent* event) override;

    // Counts the boxes and pickers this window has open: the window does not
    // end under one of them.
    class ModalScope {
    public:
        explicit ModalScope(JobDialog& dialog) : dialog_(dialog) { ++dialog_.modalDepth_; }
        ~ModalScope() { --dialog_.modalDepth_; }
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        JobDialog& dialog_;
    };

    IDialogs& dialogs_;
    CMyRichEditCtrl* m_log = nullptr;

private:
    // Runs f on the user-interface thread and waits for it there.
    template <typename F> void OnUiThread(F&& f);
    // Closes the window if nothing holds it open any more.
    bool TryFinish();

    BusyAnimation* anim_ = nullptr;
    QAction* stopAction_ = nullptr;
    // The latest progress text and whether the user-interface thread has
    // yet to show it: jobs may report faster than the pane can draw.
    std::mutex progressMutex_;
    std::string progressText_;
    bool progressPosted_ = false;
    int modalDepth_ = 0;
    bool ending_ = false;   // an end was asked for
    bool finished_ = false; // the window has ended
    int endResult_ = 0;
    QTimer endPoll_;
    // Read by job threads: once set, requests return at once without a window.
    std::atomic<bool> closing_{false};
    std::unique_ptr<IJobSet> jobs_;
};

} // namespace tbx
