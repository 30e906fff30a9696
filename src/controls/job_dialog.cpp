#include "controls/job_dialog.h"

#include "controls/busy_animation.h"
#include "controls/dialog_builder.h"
#include "controls/dialogs.h"
#include "controls/log_pane.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMetaObject>
#include <QScreen>
#include <QThread>
#include <utility>

namespace tbx {
namespace {

// How often a closing window looks whether its jobs have ended.
constexpr int kJobPollMs = 10;
constexpr const char* kStopText = "Остановить";

} // namespace

JobDialog::JobDialog(IDialogs& dialogs, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), dialogs_(dialogs) {}

JobDialog::~JobDialog() {
    if (!jobs_)
        return;
    if (!finished_) {
        closing_ = true;
        jobs_->Shutdown();
        // Requests already on their way still need this thread to answer them.
        while (!jobs_->Idle()) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
    }
    jobs_->Join();
}

void JobDialog::AttachJobs(std::unique_ptr<IJobSet> jobs, CMyRichEditCtrl* log,
                           BusyAnimation* anim) {
    jobs_ = std::move(jobs);
    m_log = log;
    anim_ = anim;
    // Like the about entry, the stop sits in the window's context menu.
    stopAction_ = new QAction(QString::fromUtf8(kStopText), this);
    stopAction_->setEnabled(false);
    connect(stopAction_, &QAction::triggered, this, &JobDialog::OnStop);
    addAction(stopAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void JobDialog::OnStop() {
    if (jobs_ && !closing_)
        jobs_->Stop();
}

bool JobDialog::event(QEvent* event) {
    if (event->type() == QEvent::ContextMenu && stopAction_)
        stopAction_->setEnabled(jobs_ && !jobs_->Idle() && !closing_);
    return QDialog::event(event);
}

void JobDialog::closeEvent(QCloseEvent* event) {
    event->setAccepted(EndWindow(QDialog::Rejected));
}

bool JobDialog::EndWindow(int result) {
    if (ending_)
        return false;
    ending_ = true;
    endResult_ = result;
    closing_ = true;
    if (jobs_)
        jobs_->Shutdown();
    if (TryFinish())
        return true;
    // Waiting here in a nested event loop could stall: under the GLib event
    // dispatcher, a loop nested in the handling of a posted event does not
    // deliver the jobs' posted requests. So return to the running loop and
    // look again shortly.
    connect(&endPoll_, &QTimer::timeout, this, [this] {
        if (TryFinish())
            endPoll_.stop();
    });
    endPoll_.start(kJobPollMs);
    return false;
}

bool JobDialog::TryFinish() {
    // A job may be waiting for the answer of an open box, and a handler that
    // opened one expects its window to stand when the box returns.
    if (modalDepth_ > 0 || (jobs_ && !jobs_->Idle()))
        return false;
    if (jobs_)
        jobs_->Join();
    finished_ = true;
    if (anim_)
        anim_->StopBusy();
    done(endResult_);
    return true;
}

template <typename F> void JobDialog::OnUiThread(F&& f) {
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

std::string JobDialog::ReadField(int controlId) {
    std::string text;
    OnUiThread([&] {
        if (auto* edit = FindControl<QLineEdit>(*this, controlId))
            text = edit->text().toStdString();
    });
    return text;
}

void JobDialog::ShowMessage(const std::string& text) {
    if (closing_)
        return;
    OnUiThread([&] {
        if (!closing_ && m_log)
            m_log->SetMessage(QString::fromStdString(text));
    });
}

void JobDialog::ShowProgress(const std::string& text) {
    if (closing_)
        return;
    {
        std::lock_guard lock(progressMutex_);
        progressText_ = text;
        if (progressPosted_)
            return;
        progressPosted_ = true;
    }
    // Queued, not waited for: posted events run in order, so this still
    // comes before any message the job sends after it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            QString text;
            {
                std::lock_guard lock(progressMutex_);
                text = QString::fromStdString(progressText_);
                progressPosted_ = false;
            }
            if (!closing_ && m_log)
                m_log->SetMessage(text);
        },
        Qt::QueuedConnection);
}

bool JobDialog::AskYesNo(const std::string& text) {
    if (closing_)
        return false;
    bool yes = false;
    OnUiThread([&] {
        if (closing_)
            return;
        ModalScope modal(*this);
        yes = dialogs_.AskYesNo(this, QString::fromStdString(text));
    });
    return yes;
}

void JobDialog::StartBusy() {
    if (closing_ || !anim_)
        return;
    OnUiThread([&] {
        if (!closing_)
            anim_->StartBusy();
    });
}

void JobDialog::StopBusy() {
    if (closing_ || !anim_)
        return;
    OnUiThread([&] { anim_->StopBusy(); });
}

void JobDialog::EndDialog(int result) {
    if (closing_)
        return;
    OnUiThread([&] {
        if (closing_)
            return;
        // The job that asks is still running; the window ends once it is over.
        EndWindow(result);
    });
}

ScreenSize JobDialog::Screen() {
    ScreenSize size;
    OnUiThread([&] {
        const QScreen* where = screen();
        const QSize pixels = where->size() * where->devicePixelRatio();
        size = {pixels.width(), pixels.height()};
    });
    return size;
}

} // namespace tbx
