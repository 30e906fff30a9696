#pragma once
// The five pages of the options sheet. Each page edits one option key: it
// loads the key into its controls the first time it is shown and writes all
// of its controls back when the sheet applies. The rules of what is loaded
// and saved live in option_pages_logic.h; the pages only move values between
// those and their controls and keep controls enabled as the choices require.

#include "platform/registry.h"
#include "settings/opt_store.h"
#include "settings/option_pages_logic.h"

#include <QString>
#include <QWidget>
#include <initializer_list>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tbx {

class IDialogs;

// What the pages share: the template, the first-show load and the modified
// mark that enables the sheet's Apply button.
class COptPage : public QWidget {
    Q_OBJECT
public:
    COptPage(int templateId, RegHive hive, QWidget* parent);

    // True once the page has been shown and has loaded its key; only such
    // pages write when the sheet applies.
    bool IsCreated() const { return created_; }
    bool IsModified() const { return modified_; }

    // Runs when the page is first shown.
    virtual void OnInitDialog() = 0;
    // Writes every value of the page. Empty on success, otherwise the message
    // that says what was not written.
    virtual QString OnApply() = 0;

    // Marks the page changed (or unchanged, after the sheet applied it).
    void SetModified(bool changed = true);
    void OnOptionChanged() { SetModified(true); }

signals:
    void ModifiedChanged();

protected:
    void showEvent(QShowEvent* event) override;

    template <typename T> T* Bind(int id);
    // Connects the check boxes' clicks and the edits' changes to OnOptionChanged.
    void WatchClicks(std::initializer_list<QCheckBox*> boxes);
    void WatchEdits(std::initializer_list<QLineEdit*> edits);
    // The message for a failed save of keyPath, or empty when it succeeded.
    QString SaveFailure(const OptSaveResult& result, const char* keyPath) const;

    RegHive hive_;
    COptReg m_optReg;

private:
    bool created_ = false;
    bool modified_ = false;
};

// "Общие": the help window's size and position and what happens around a build.
class CPropCmnOpt : public COptPage {
    Q_OBJECT
public:
    explicit CPropCmnOpt(RegHive hive, QWidget* parent = nullptr);

    void OnInitDialog() override;
    QString OnApply() override;

    void OnCustomSize();
    void OnAutoSize();

private:
    void LoadOptions();
    QString SaveOptions();
    void EnableSizeEdits(bool enable);

    QCheckBox* m_chkSaveWndPos;
    QRadioButton* m_radAutoSize;
    QRadioButton* m_radCustomSize;
    QLineEdit* m_editLSide;
    QLineEdit* m_editTSide;
    QLineEdit* m_editWidth;
    QLineEdit* m_editHeight;
    QCheckBox* m_chkOpenAfterCompile;
    QCheckBox* m_chkChangeChmOutDir;
    QCheckBox* m_chkConsentOnRewrite;
    QCheckBox* m_chkQuitAfterCompile;
};

// "Кнопки": the toolbar buttons of the help window.
class CBtnOptDlg : public COptPage {
    Q_OBJECT
public:
    explicit CBtnOptDlg(RegHive hive, QWidget* parent = nullptr);

    void OnInitDialog() override;
    QString OnApply() override;

    void OnUserLink();

private:
    void LoadOptions();
    QString SaveOptions();

    QCheckBox* m_chkShowHide;
    QCheckBox* m_chkOptions;
    QCheckBox* m_chkBack;
    QCheckBox* m_chkForward;
    QCheckBox* m_chkStop;
    QCheckBox* m_chkRefresh;
    QCheckBox* m_chkHome;
    QCheckBox* m_chkPrint;
    QCheckBox* m_chkUserLink;
    QLineEdit* m_editUserLinkUrl;
    QLineEdit* m_editUserLinkTitle;
};

// "Навигационная панель": the navigation pane of the help window.
class CNavOpt : public COptPage {
    Q_OBJECT
public:
    explicit CNavOpt(RegHive hive, QWidget* parent = nullptr);

    void OnInitDialog() override;
    QString OnApply() override;

    void OnNavPanel();

private:
    void LoadOptions();
    QString SaveOptions();
    void EnablePanelControls(bool enable);

    QCheckBox* m_chkNavPanel;
    QLineEdit* m_editNavWidth;
    QCheckBox* m_chkNavSearch;
    QCheckBox* m_chkNavFavorites;
};

// "Разборка": what happens around a decompile.
class CDestructOpt : public COptPage {
    Q_OBJECT
public:
    explicit CDestructOpt(RegHive hive, QWidget* parent = nullptr);

    void OnInitDialog() override;
    QString OnApply() override;

private:
    void LoadOptions();
    QString SaveOptions();

    QCheckBox* m_chkOpnDecDir;
    QCheckBox* m_chkChgDecDir;
    QCheckBox* m_chkQuitAfterDec;
};

// "Индекс": the style sheet of the index page and what happens around indexing.
class CIndOpt : public COptPage {
    Q_OBJECT
public:
    // programFolder ends with "/"; its css_dir is the folder "Default" names.
    CIndOpt(RegHive hive, IDialogs& dialogs, std::string programFolder, QWidget* parent = nullptr);

    void OnInitDialog() override;
    QString OnApply() override;

    void OnBrowseCss();
    // Refills the style list from the folder the text names and selects its
    // first item.
    void FillCssList(const QString& folderText);

private:
    void LoadOptions();
    QString SaveOptions();

    IDialogs& dialogs_;
    std::string programFolder_;
    QLineEdit* m_editCssPath;
    QComboBox* m_cmbCssStyle;
    QPushButton* m_btnBrowseCss;
    QCheckBox* m_chkIndexingFinish;
    QCheckBox* m_chkSendToCompiler;
    QCheckBox* m_chkCopyCss;
};

} // namespace tbx
