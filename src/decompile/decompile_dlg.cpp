#include "decompile/decompile_dlg.h"

#include "controls/dialog_builder.h"
#include "controls/log_pane.h"
#include "res/images.h"
#include "res/layouts.h"

#include <QLineEdit>
#include <QPushButton>
#include <memory>
#include <utility>

namespace tbx {
namespace {

static_assert(kIdDecFileEdit == kIdDecInputEdit && kIdDecFolderEdit == kIdDecOutputEdit,
              "the decompile job reads the window's fields by these ids");

constexpr int kBrowseTitleId = 116;
constexpr const char* kChangeDirQuestion = "Хотите указать выходной HTM-каталог?";
constexpr const char* kDirPickerTitle = "Выбраем выходной HTM-каталог";

} // namespace

CDecompileDlg::CDecompileDlg(RegHive hive, IDialogs& dialogs, IShell& shell,
                             std::string programFolder, QWidget* parent)
    : JobDialog(dialogs, parent,
                Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      hive_(hive), m_fileDlg(dialogs) {
    BuildDialog(*this, *FindDialogTemplate(kDecompileTemplate));
    m_editInput = FindControl<QLineEdit>(*this, kIdDecFileEdit);
    m_editOutput = FindControl<QLineEdit>(*this, kIdDecFolderEdit);
    auto jobs =
        std::make_unique<DecompileJobs>(*this, shell, std::move(hive), std::move(programFolder));
    m_jobs = jobs.get();
    AttachJobs(std::move(jobs), FindControl<CMyRichEditCtrl>(*this, kIdDecLog), nullptr);

    const std::pair<int, void (CDecompileDlg::*)()> buttons[] = {
        {kIdDecBrowseButton, &CDecompileDlg::OnBrowse},
        {kIdDecStartButton, &CDecompileDlg::OnDecompile},
        {kIdDecBackButton, &CDecompileDlg::OnBack},
    };
    for (const auto& [id, handler] : buttons)
        connect(FindControl<QPushButton>(*this, id), &QPushButton::clicked, this, handler);

    OnInitDialog();
}

void CDecompileDlg::OnInitDialog() {
    setWindowIcon(ProgramIcon());
    m_log->InitPane();
}

void CDecompileDlg::OnBrowse() {
    m_fileDlg.Setup(this, {{QStringLiteral("*.chm файлы"), QStringLiteral("*.chm")}},
                    kBrowseTitleId, StartFolderFor(m_editInput->text()));
    {
        ModalScope modal(*this);
        if (!m_fileDlg.Show())
            return;
    }
    ChooseFile(m_fileDlg.File());
}

void CDecompileDlg::ChooseFile(const QString& file) {
    QString folder;
    {
        COptKey key;
        if (key.Open(hive_, kDecOptsKey) == kErrorSuccess && m_optReg.ReadFlag(key, "ChgDecDir")) {
            ModalScope modal(*this);
            if (dialogs_.AskYesNo(this, QString::fromUtf8(kChangeDirQuestion)))
                folder = PickFolder(dialogs_, this, QString::fromUtf8(kDirPickerTitle),
                                    StartFolderFor(m_editOutput->text()));
        }
    }

    m_editInput->setText(file);
    if (folder.isEmpty())
        folder = file.left(file.lastIndexOf(QLatin1Char('/')) + 1);
    m_editOutput->setText(folder);
}

void CDecompileDlg::OnDecompile() {
    m_jobs->Start();
}

void CDecompileDlg::OnBack() {
    EndWindow(QDialog::Accepted);
}

void CDecompileDlg::reject() {
    EndWindow(QDialog::Rejected);
}

} // namespace tbx
