#include "controls/about_dlg.h"

#include "compile/help_project.h"
#include "controls/dialog_builder.h"
#include "controls/link_label.h"
#include "res/images.h"
#include "res/layouts.h"

#include <QPushButton>

namespace tbx {

CAboutDlg::CAboutDlg(IShell& shell, IDialogs& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    BuildDialog(*this, *FindDialogTemplate(kAboutTemplate));
    m_webLink = FindControl<CLinkLabel>(*this, kIdAboutWebLink);
    m_mailLink = FindControl<CLinkLabel>(*this, kIdAboutMailLink);
    connect(FindControl<QPushButton>(*this, kIdAboutOk), &QPushButton::clicked, this,
            &QDialog::accept);
    OnInitDialog(shell, dialogs);
}

void CAboutDlg::OnInitDialog(IShell& shell, IDialogs& dialogs) {
    // Each link first takes its own text as its target, then gets its real one.
    m_webLink->Attach(shell, dialogs);
    m_mailLink->Attach(shell, dialogs);
    m_webLink->setAccessibleName(QStringLiteral("Web-site:"));
    m_mailLink->setAccessibleName(QStringLiteral("E-mail:"));
    setWindowIcon(ProgramIcon());
    m_webLink->SetTarget(QString::fromUtf8(kAuthorSite));
    m_mailLink->SetTarget(QStringLiteral("mailto:") + QString::fromUtf8(kAuthorMail));
    FindControl<QPushButton>(*this, kIdAboutOk)->setFocus();
}

} // namespace tbx
