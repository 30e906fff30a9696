#include "app/build_dlg.h"

#include "app/build_inputs.h"
#include "controls/busy_animation.h"
#include "controls/dialog_builder.h"
#include "controls/log_pane.h"
#include "res/images.h"
#include "res/layouts.h"
#include "res/strings.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <utility>

namespace tbx {
namespace {

static_assert(kIdBuildPageEdit == kIdPageEdit && kIdBuildOutputEdit == kIdOutputEdit &&
                  kIdBuildTitleEdit == kIdTitleEdit,
              "the compile job reads the build window's fields by these ids");

constexpr int kBrowseTitleId = 102;
constexpr const char* kChangeOutDirQuestion = "Хотите указать каталог для выходного CHM файла?";
constexpr const char* kOutDirPickerTitle = "Выбираем каталог для выходного CHM файла";

// How often a closing window looks whether its jobs have ended.
constexpr int kJobPollMs = 10;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QString& text) {
    return text.toStdString();
}

} // namespace

class CBuildDlg::ModalScope {
public:
    explicit ModalScope(CBuildDlg& dialog) : dialog_(dialog) { ++dialog_.modalDepth_; }
    ~ModalScope() { --dialog_.modalDepth_; }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    CBuildDlg& dialog_;
};

CBuildDlg::CBuildDlg(RegHive hive, IDialogs& dialogs, IShell& shell, std::string programFolder,
                     QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      hive_(hive), dialogs_(dialogs), m_fileDlg(dialogs),
      jobs_(*this, shell, std::move(hive), std::move(programFolder)) {
    BuildDialog(*this, *FindDialogTemplate(kBuildTemplate));
    m_editTitle = FindControl<QLineEdit>(*this, kIdBuildTitleEdit);
    m_editInput = FindControl<QLineEdit>(*this, kIdBuildPageEdit);
    m_editOutput = FindControl<QLineEdit>(*this, kIdBuildOutputEdit);
    m_log = FindControl<CMyRichEditCtrl>(*this, kIdBuildLog);
    m_anim = FindControl<BusyAnimation>(*this, kIdBuildAnimation);

    const std::pair<int, void (CBuildDlg::*)()> buttons[] = {
        {kIdBrowseButton, &CBuildDlg::OnBrowsePage}, {kIdOptionsButton, &CBuildDlg::OnOptions},
        {kIdBuildButton, &CBuildDlg::OnBuild},       {kIdDecompileButton, &CBuildDlg::OnDecompile},
        {kIdIndexButton, &CBuildDlg::OnOpenIndex},   {kIdExitButton, &CBuildDlg::OnExit},
    };
    for (const auto& [id, handler] : buttons)
        connect(FindControl<QPushButton>(*this, id), &QPushButton::clicked, this, handler);

    OnInitDialog();
}

CBuildDlg::~CBuildDlg() {
    if (!finished_) {
        closing_ = true;
        jobs_.Shutdown();
        // Requests already on their way still need this thread to answer them.
        while (!jobs_.Idle()) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
    }
    jobs_.Join();
}

void CBuildDlg::OnInitDialog() {
    // Linux window managers let no program add to the window menu, so the
    // about entry sits in the window's context menu and has a shortcut.
    const QString aboutText = Q(LoadString(101));
    if (!aboutText.isEmpty() && !aboutAction_) {
        aboutAction_ = new QAction(aboutText, this);
        aboutAction_->setShortcut(QKeySequence(Qt::Key_F1));
        aboutAction_->setShortcutContext(Qt::WindowShortcut);
        connect(aboutAction_, &QAction::triggered, this, [this] { OnSysCommand(kIdmAboutBox); });
        addAction(aboutAction_);
        setContextMenuPolicy(Qt::ActionsContextMenu);
    }
    setWindowIcon(ProgramIcon());
    m_log->InitPane();
    WriteFirstRunDefaults(hive_);
}

void CBuildDlg::OnBrowsePage() {
    m_fileDlg.Setup(this,
                    {{QStringLiteral("*.htm и *.html файлы"), QStringLiteral("*.htm *.html")},
                     {QStringLiteral("Все файлы (*.*)"), QStringLiteral("*")}},
                    kBrowseTitleId);
    int chosen = 0;
    {
        ModalScope modal(*this);
        chosen = m_fileDlg.Show();
    }
    if (!chosen) {
        m_log->SetMessage(Q(LoadString(106)));
        return;
    }

    QString folder;
    {
        COptKey key;
        if (key.Open(hive_, kCmnOptsKey) == kErrorSuccess &&
            m_optReg.ReadFlag(key, "ChangeChmOutDir")) {
            ModalScope modal(*this);
            if (dialogs_.AskYesNo(this, QString::fromUtf8(kChangeOutDirQuestion)))
                folder = PickFolder(dialogs_, this, QString::fromUtf8(kOutDirPickerTitle));
        }
    }

    const QString page = m_fileDlg.File();
    m_editInput->setText(page);
    m_editOutput->setText(Q(ChmPathFor(S(page), S(folder))));
    m_log->SetMessage(ReadPageTitleAndReport(page, m_fileDlg.FileTitle()));
}

QString CBuildDlg::ReadPageTitleAndReport(const QString& pagePath, const QString& fileName) {
    m_editTitle->setText(Q(TitleForPage(S(pagePath), S(fileName))));
    return Q(PageReport(S(fileName)));
}

void CBuildDlg::OnOptions() {
    // Opens the options sheet; that window does not exist yet, so nothing happens.
}

void CBuildDlg::OnBuild() {
    jobs_.Start();
}

void CBuildDlg::OnDecompile() {
    // Opens the decompile window; that window does not exist yet, so nothing happens.
}

void CBuildDlg::OnOpenIndex() {
    // Opens the index window; that window does not exist yet, so nothing happens.
}

void CBuildDlg::OnExit() {
    EndWindow(QDialog::Rejected);
}

void CBuildDlg::OnSysCommand(int command) {
    if ((command & 0xFFF0) == kIdmAboutBox) {
        // Shows the about box; that window does not exist yet, so nothing happens.
    }
}

void CBuildDlg::keyPressEvent(QKeyEvent* event) {
    // Escape would cancel the dialog; this window only ends by its exit
    // button or its close box.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CBuildDlg::closeEvent(QCloseEvent* event) {
    event->setAccepted(EndWindow(QDialog::Rejected));
}

bool CBuildDlg::EndWindow(int result) {
    if (ending_)
        return false;
    ending_ = true;
    endResult_ = result;
    closing_ = true;
    jobs_.Shutdown();
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

bool CBuildDlg::TryFinish() {
    // A job may be waiting for the answer of an open box, and a handler that
    // opened one expects its window to stand when the box returns.
    if (modalDepth_ > 0 || !jobs_.Idle())
        return false;
    jobs_.Join();
    finished_ = true;
    m_anim->StopBusy();
    done(endResult_);
    return true;
}

template <typename F> void CBuildDlg::OnUiThread(F&& f) {
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

std::string CBuildDlg::ReadField(int controlId) {
    std::string text;
    OnUiThread([&] {
        if (auto* edit = FindControl<QLineEdit>(*this, controlId))
            text = S(edit->text());
    });
    return text;
}

void CBuildDlg::ShowMessage(const std::string& text) {
    if (closing_)
        return;
    OnUiThread([&] {
        if (!closing_)
            m_log->SetMessage(Q(text));
    });
}

bool CBuildDlg::AskYesNo(const std::string& text) {
    if (closing_)
        return false;
    bool yes = false;
    OnUiThread([&] {
        if (closing_)
            return;
        ModalScope modal(*this);
        yes = dialogs_.AskYesNo(this, Q(text));
    });
    return yes;
}

void CBuildDlg::StartBusy() {
    if (closing_)
        return;
    OnUiThread([&] {
        if (!closing_)
            m_anim->StartBusy();
    });
}

void CBuildDlg::StopBusy() {
    if (closing_)
        return;
    OnUiThread([&] { m_anim->StopBusy(); });
}

void CBuildDlg::EndDialog(int result) {
    if (closing_)
        return;
    OnUiThread([&] {
        if (closing_)
            return;
        // The job that asks is still running; the window ends once it is over.
        EndWindow(result);
    });
}

ScreenSize CBuildDlg::Screen() {
    ScreenSize size;
    OnUiThread([&] {
        const QScreen* where = screen();
        const QSize pixels = where->size() * where->devicePixelRatio();
        size = {pixels.width(), pixels.height()};
    });
    return size;
}

} // namespace tbx
