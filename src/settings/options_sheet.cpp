#include "settings/options_sheet.h"

#include "controls/dialog_builder.h"
#include "controls/dialogs.h"
#include "res/images.h"
#include "settings/option_pages.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QVBoxLayout>
#include <utility>

namespace tbx {

COptsPrSheet::COptsPrSheet(const QString& caption, RegHive hive, IDialogs& dialogs,
                           std::string programFolder, QWidget* parent, int selectPage)
    : QDialog(parent), dialogs_(dialogs), m_tabs(new QTabWidget(this)) {
    setWindowTitle(caption);
    setWindowIcon(ProgramIcon());
    // No Help button: the pages have no help to show.
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFont(DialogFont());

    pages_ = {new CPropCmnOpt(hive, m_tabs), new CBtnOptDlg(hive, m_tabs),
              new CNavOpt(hive, m_tabs), new CDestructOpt(hive, m_tabs),
              new CIndOpt(hive, dialogs, std::move(programFolder), m_tabs)};
    for (COptPage* page : pages_) {
        m_tabs->addTab(page, page->windowTitle());
        connect(page, &COptPage::ModifiedChanged, this, &COptsPrSheet::OnPageModified);
    }
    m_tabs->setCurrentIndex(selectPage);

    auto* buttons = new QDialogButtonBox(this);
    m_btnOk = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    m_btnCancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    m_btnApply = buttons->addButton(QStringLiteral("Применить"), QDialogButtonBox::ApplyRole);
    m_btnOk->setDefault(true);
    m_btnApply->setEnabled(false);
    connect(m_btnOk, &QPushButton::clicked, this, &COptsPrSheet::OnOK);
    connect(m_btnCancel, &QPushButton::clicked, this, &COptsPrSheet::OnCancel);
    connect(m_btnApply, &QPushButton::clicked, this, &COptsPrSheet::OnApply);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
    // The pages have fixed sizes; the sheet takes the size they need.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool COptsPrSheet::OnApply() {
    QStringList failures;
    for (COptPage* page : pages_) {
        if (!page->IsCreated())
            continue;
        const QString failure = page->OnApply();
        if (!failure.isEmpty())
            failures << failure;
    }
    if (!failures.isEmpty()) {
        // Apply stays enabled so the user can try again.
        dialogs_.ShowMessage(this, failures.join(QStringLiteral("\n\n")), MessageIcon::Error);
        return false;
    }
    // Everything shown is now stored: nothing is left to apply.
    for (COptPage* page : pages_)
        page->SetModified(false);
    return true;
}

void COptsPrSheet::OnOK() {
    if (OnApply())
        accept();
}

void COptsPrSheet::OnCancel() {
    reject();
}

void COptsPrSheet::OnPageModified() {
    bool anyModified = false;
    for (COptPage* page : pages_)
        anyModified = anyModified || page->IsModified();
    m_btnApply->setEnabled(anyModified);
}

} // namespace tbx
