#pragma once
// The options sheet: five pages on tabs with OK, Cancel and Apply. OK and
// Apply write every page the user has looked at; Cancel writes nothing more.

#include "platform/registry.h"

#include <QDialog>
#include <array>
#include <string>

class QPushButton;
class QTabWidget;

namespace tbx {

class COptPage;
class CPropCmnOpt;
class CBtnOptDlg;
class CNavOpt;
class CDestructOpt;
class CIndOpt;
class IDialogs;

class COptsPrSheet : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPageCount = 5;

    // programFolder ends with "/" and holds css_dir; selectPage is the tab
    // shown first.
    COptsPrSheet(const QString& caption, RegHive hive, IDialogs& dialogs, std::string programFolder,
                 QWidget* parent = nullptr, int selectPage = 0);

    // Writes every page shown so far. A write that fails is reported and the
    // result is false.
    bool OnApply();
    // Applies and closes; stays open when a write failed.
    void OnOK();
    void OnCancel();

    COptPage* Page(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
    QTabWidget* Tabs() const { return m_tabs; }
    QPushButton* OkButton() const { return m_btnOk; }
    QPushButton* CancelButton() const { return m_btnCancel; }
    QPushButton* ApplyButton() const { return m_btnApply; }

private:
    void OnPageModified();

    IDialogs& dialogs_;
    QTabWidget* m_tabs;
    std::array<COptPage*, kPageCount> pages_{};
    QPushButton* m_btnOk;
    QPushButton* m_btnCancel;
    QPushButton* m_btnApply;
};

} // namespace tbx
