#include "app/build_dlg.h"

#include "app/build_inputs.h"
#include "app/command_line.h"
#include "controls/about_dlg.h"
#include "controls/busy_animation.h"
#include "controls/dialog_builder.h"
#include "controls/log_pane.h"
#include "decompile/decompile_dlg.h"
#include "index/index_dlg.h"
#include "index/index_page.h"
#include "res/images.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "settings/options_sheet.h"

#include <QAction>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <utility>

namespace tbx {
namespace {

static_assert(kIdBuildPageEdit == kIdPageEdit && kIdBuildOutputEdit == kIdOutputEdit &&
                  kIdBuildTitleEdit == kIdTitleEdit,
              "the compile job reads the build window's fields by these ids");

constexpr int kBrowseTitleId = 102;
constexpr const char* kChangeOutDirQuestion = "Хотите указать каталог для выходного CHM файла?";
constexpr const char* kOutDirPickerTitle = "Выбираем каталог для выходного CHM файла";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QString& text) {
    return text.toStdString();
}

// The local file a drag carries first, or empty.
QString DroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return {};
    const QUrl& url = data->urls().front();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

CBuildDlg::CBuildDlg(RegHive hive, IDialogs& dialogs, IShell& shell, std::string programFolder,
                     QWidget* parent)
    : JobDialog(dialogs, parent,
                Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                    Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      hive_(hive), shell_(shell), programFolder_(programFolder), m_fileDlg(dialogs) {
    BuildDialog(*this, *FindDialogTemplate(kBuildTemplate));
    // Larger, the log pane shows a long report whole.
    MakeResizable(*this);
    m_editTitle = FindControl<QLineEdit>(*this, kIdBuildTitleEdit);
    m_editInput = FindControl<QLineEdit>(*this, kIdBuildPageEdit);
    m_editOutput = FindControl<QLineEdit>(*this, kIdBuildOutputEdit);
    auto jobs =
        std::make_unique<CompileJobs>(*this, shell, std::move(hive), std::move(programFolder));
    m_jobs = jobs.get();
    AttachJobs(std::move(jobs), FindControl<CMyRichEditCtrl>(*this, kIdBuildLog),
               FindControl<BusyAnimation>(*this, kIdBuildAnimation));

    const std::pair<int, void (CBuildDlg::*)()> buttons[] = {
        {kIdBrowseButton, &CBuildDlg::OnBrowsePage}, {kIdOptionsButton, &CBuildDlg::OnOptions},
        {kIdBuildButton, &CBuildDlg::OnBuild},       {kIdDecompileButton, &CBuildDlg::OnDecompile},
        {kIdIndexButton, &CBuildDlg::OnOpenIndex},   {kIdExitButton, &CBuildDlg::OnExit},
    };
    for (const auto& [id, handler] : buttons)
        connect(FindControl<QPushButton>(*this, id), &QPushButton::clicked, this, handler);

    // A file dropped anywhere on the window opens as from the command line;
    // the fields would otherwise take it as text.
    setAcceptDrops(true);
    for (QWidget* child : findChildren<QWidget*>())
        child->setAcceptDrops(false);

    // Leaving the page field counts as choosing the page typed into it. Not
    // when the whole window loses the focus: a question would then stand
    // over whatever the user went to.
    m_editInput->installEventFilter(this);

    OnInitDialog();
}

bool CBuildDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_editInput && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // At once: a press of "Собрать!" that moved the focus then builds
        // with the fields filled in.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            OnPageEdited();
    }
    return JobDialog::eventFilter(watched, event);
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
                    kBrowseTitleId, StartFolderFor(m_editInput->text()));
    int chosen = 0;
    {
        ModalScope modal(*this);
        chosen = m_fileDlg.Show();
    }
    if (!chosen) {
        m_log->SetMessage(Q(LoadString(106)));
        return;
    }
    FillFromPage(m_fileDlg.File(), m_fileDlg.FileTitle());
}

void CBuildDlg::FillFromPage(const QString& page, const QString& fileName, bool keepTyped) {
    const bool fillOutput = !keepTyped || m_editOutput->text() == filledOutput_;
    const bool fillTitle = !keepTyped || m_editTitle->text() == filledTitle_;
    const QString folder = fillOutput ? AskOutputFolder() : QString();
    m_editInput->setText(page);
    filledPage_ = page;
    if (fillOutput) {
        m_editOutput->setText(Q(ChmPathFor(S(page), S(folder))));
        filledOutput_ = m_editOutput->text();
    }
    if (fillTitle) {
        m_log->SetMessage(ReadPageTitleAndReport(page, fileName));
        filledTitle_ = m_editTitle->text();
    } else {
        m_log->SetMessage(Q(PageReport(S(fileName))));
    }
}

void CBuildDlg::OnPageEdited() {
    const QString page = m_editInput->text();
    if (page == filledPage_ || page.isEmpty())
        return;
    // Said once for each text the field is left with.
    filledPage_ = page;
    if (!page.startsWith(QLatin1Char('/'))) {
        m_log->SetMessage(Q(LoadString(kMsgPagePathNotFull)));
        return;
    }
    const QFileInfo file(page);
    if (!file.isFile()) {
        m_log->SetMessage(Q(LoadString(110)) + QLatin1Char('\n') + page);
        return;
    }
    FillFromPage(page, file.fileName(), true);
}

void CBuildDlg::OpenFile(const QString& path) {
    switch (KindOfStartFile(S(path))) {
    case StartFileKind::Missing:
        m_log->SetMessage(Q(LoadString(kMsgStartFileMissing)) + QLatin1Char('\n') + path);
        break;
    case StartFileKind::Folder:
        OpenIndexWindow(path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/'));
        break;
    case StartFileKind::HelpFile:
        if (helpViewer_)
            helpViewer_(path);
        else
            OpenDecompileWindow(path);
        break;
    case StartFileKind::Page:
        FillFromPage(path, QFileInfo(path).fileName());
        break;
    }
}

void CBuildDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CBuildDlg::dropEvent(QDropEvent* event) {
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // The drop ends first: the windows a file opens are modal, and the
    // program the file came from waits until the drop is over.
    QTimer::singleShot(0, this, [this, path] { OpenFile(path); });
}

QString CBuildDlg::AskOutputFolder() {
    COptKey key;
    if (key.Open(hive_, kCmnOptsKey) != kErrorSuccess || !m_optReg.ReadFlag(key, "ChangeChmOutDir"))
        return {};
    ModalScope modal(*this);
    if (!dialogs_.AskYesNo(this, QString::fromUtf8(kChangeOutDirQuestion)))
        return {};
    return PickFolder(dialogs_, this, QString::fromUtf8(kOutDirPickerTitle),
                      StartFolderFor(m_editOutput->text()));
}

QString CBuildDlg::ReadPageTitleAndReport(const QString& pagePath, const QString& fileName) {
    m_editTitle->setText(Q(TitleForPage(S(pagePath), S(fileName))));
    return Q(PageReport(S(fileName)));
}

void CBuildDlg::OnOptions() {
    // A new sheet at every press: it loads what is stored now.
    COptsPrSheet sheet(Q(LoadString(107)), hive_, dialogs_, programFolder_, this, 0);
    int result = QDialog::Rejected;
    {
        ModalScope modal(*this);
        result = sheet.exec();
    }
    if (result == QDialog::Accepted)
        m_log->SetMessage(Q(LoadString(108)));
}

void CBuildDlg::OnBuild() {
    m_jobs->Start();
}

void CBuildDlg::SetHelpViewer(HelpViewer viewer) {
    helpViewer_ = std::move(viewer);
    if (!helpViewer_) {
        m_jobs->ShowHelpFilesWith({});
        return;
    }
    // The job finishes on its worker thread; the viewer opens on this one.
    QPointer<CBuildDlg> self(this);
    m_jobs->ShowHelpFilesWith([self](const std::string& helpFile) {
        const QString file = QString::fromStdString(helpFile);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, file] {
                if (self && self->helpViewer_)
                    self->helpViewer_(file);
            },
            Qt::QueuedConnection);
    });
}

void CBuildDlg::OnDecompile() {
    OpenDecompileWindow({});
}

void CBuildDlg::OpenDecompileWindow(const QString& helpFile) {
    {
        CDecompileDlg decompile(hive_, dialogs_, shell_, programFolder_, this);
        // Chosen once the window shows, so that its question stands over it.
        if (!helpFile.isEmpty())
            QTimer::singleShot(0, &decompile,
                               [&decompile, helpFile] { decompile.ChooseFile(helpFile); });
        ModalScope modal(*this);
        decompile.exec();
    }
    // A decompile job whose options ask to quit ends the program with it.
    if (DecompileQuitFlag == 1)
        EndWindow(QDialog::Rejected);
}

void CBuildDlg::OnOpenIndex() {
    OpenIndexWindow({});
}

void CBuildDlg::OpenIndexWindow(const QString& folder) {
    {
        CIndexDlg index(hive_, dialogs_, programFolder_, this);
        if (!folder.isEmpty())
            index.ListFolder(folder);
        ModalScope modal(*this);
        index.exec();
    }
    if (g_strIndexPage.empty())
        return;
    m_editInput->setText(Q(g_strIndexPage));
    m_editTitle->setText(Q(g_strIndexTitle));
    m_editOutput->setText(Q(g_strIndexChm));
    // Cancelling the folder pick keeps the help file beside the index page.
    const QString folderPicked = AskOutputFolder();
    if (!folderPicked.isEmpty())
        m_editOutput->setText(folderPicked + QString::fromUtf8(kIndexChmName));
    ClearIndexHandOff();
    filledPage_ = m_editInput->text();
    filledOutput_ = m_editOutput->text();
    filledTitle_ = m_editTitle->text();
}

void CBuildDlg::OnExit() {
    EndWindow(QDialog::Rejected);
}

void CBuildDlg::OnSysCommand(int command) {
    if ((command & 0xFFF0) == kIdmAboutBox) {
        CAboutDlg about(shell_, dialogs_, this);
        about.exec();
    }
}

void CBuildDlg::keyPressEvent(QKeyEvent* event) {
    // Escape would cancel the dialog; this window only ends by its exit
    // button or its close box. While a build runs, it stops the build.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        if (!m_jobs->Idle())
            OnStop();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CBuildDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FitControls(*this);
}

} // namespace tbx
