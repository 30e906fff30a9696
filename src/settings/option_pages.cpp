#include "settings/option_pages.h"

#include "controls/dialog_builder.h"
#include "controls/dialogs.h"
#include "res/layouts.h"
#include "res/strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QValidator>
#include <utility>
#include <vector>

namespace tbx {
namespace {

constexpr const char* kCssPickerTitle = "Выбираем каталог с CSS файлами";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QString& text) {
    return text.toStdString();
}

// Refuses input that would make the text longer, in UTF-8 bytes, than the
// option readers take back.
class Utf8LengthValidator : public QValidator {
public:
    Utf8LengthValidator(qsizetype maxBytes, QObject* parent)
        : QValidator(parent), maxBytes_(maxBytes) {}

    State validate(QString& input, int&) const override {
        return input.toUtf8().size() <= maxBytes_ ? Acceptable : Invalid;
    }

private:
    qsizetype maxBytes_;
};

// Numbers are typed as digits only, and no more of them than a reader takes
// back: a longer number would read as 0.
void MakeDigitsOnly(QLineEdit* edit) {
    const auto maxDigits = static_cast<int>(kFlagBufferSize - 1);
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(maxDigits)), edit));
}

void LimitTextLength(QLineEdit* edit) {
    edit->setValidator(new Utf8LengthValidator(static_cast<qsizetype>(kTextBufferSize - 1), edit));
}

// Sets an edit's text and reports the change even when the text stays the
// same, as setting a text always counts as a change of the field: a loaded
// page marks itself changed through it whatever it loaded.
void SetEditText(QLineEdit* edit, const QString& text) {
    if (edit->text() == text)
        emit edit->textChanged(text);
    else
        edit->setText(text);
}

void SetEnabled(std::initializer_list<QWidget*> controls, bool enable) {
    for (QWidget* control : controls)
        control->setEnabled(enable);
}

} // namespace

// ---------------------------------------------------------------------------
// COptPage

COptPage::COptPage(int templateId, RegHive hive, QWidget* parent)
    : QWidget(parent), hive_(std::move(hive)) {
    BuildDialog(*this, *FindDialogTemplate(templateId));
}

template <typename T> T* COptPage::Bind(int id) {
    T* control = FindControl<T>(*this, id);
    if (!control)
        qFatal("options page %s lacks control %d", qPrintable(windowTitle()), id);
    return control;
}

void COptPage::SetModified(bool changed) {
    if (modified_ == changed)
        return;
    modified_ = changed;
    emit ModifiedChanged();
}

void COptPage::showEvent(QShowEvent* event) {
    if (!created_) {
        created_ = true;
        OnInitDialog();
    }
    QWidget::showEvent(event);
}

void COptPage::WatchClicks(std::initializer_list<QCheckBox*> boxes) {
    for (QCheckBox* box : boxes)
        connect(box, &QCheckBox::clicked, this, &COptPage::OnOptionChanged);
}

void COptPage::WatchEdits(std::initializer_list<QLineEdit*> edits) {
    for (QLineEdit* edit : edits)
        connect(edit, &QLineEdit::textChanged, this, &COptPage::OnOptionChanged);
}

QString COptPage::SaveFailure(const OptSaveResult& result, const char* keyPath) const {
    if (result.Ok())
        return {};
    std::filesystem::path where = hive_.KeyDir(keyPath);
    if (!result.value.empty())
        where /= result.value;
    const int message = result.code == kErrorMoreData ? kMsgOptionTooLong : kMsgOptionsWriteFailed;
    return Q(LoadString(message)) + QLatin1Char('\n') + Q(where.string());
}

// ---------------------------------------------------------------------------
// CPropCmnOpt

CPropCmnOpt::CPropCmnOpt(RegHive hive, QWidget* parent)
    : COptPage(kCmnOptTemplate, std::move(hive), parent),
      m_chkSaveWndPos(Bind<QCheckBox>(kIdOptSaveWndPos)),
      m_radAutoSize(Bind<QRadioButton>(kIdOptAutoSize)),
      m_radCustomSize(Bind<QRadioButton>(kIdOptCustomSize)),
      m_editLSide(Bind<QLineEdit>(kIdOptLSide)), m_editTSide(Bind<QLineEdit>(kIdOptTSide)),
      m_editWidth(Bind<QLineEdit>(kIdOptWidth)), m_editHeight(Bind<QLineEdit>(kIdOptHeight)),
      m_chkOpenAfterCompile(Bind<QCheckBox>(kIdOptOpenAfterCompile)),
      m_chkChangeChmOutDir(Bind<QCheckBox>(kIdOptChangeChmOutDir)),
      m_chkConsentOnRewrite(Bind<QCheckBox>(kIdOptConsentOnRewrite)),
      m_chkQuitAfterCompile(Bind<QCheckBox>(kIdOptQuitAfterCompile)) {
    for (QLineEdit* edit : {m_editLSide, m_editTSide, m_editWidth, m_editHeight})
        MakeDigitsOnly(edit);
    EnableSizeEdits(false);
    connect(m_radCustomSize, &QRadioButton::clicked, this, &CPropCmnOpt::OnCustomSize);
    connect(m_radAutoSize, &QRadioButton::clicked, this, &CPropCmnOpt::OnAutoSize);
    WatchClicks({m_chkSaveWndPos, m_chkOpenAfterCompile, m_chkQuitAfterCompile,
                 m_chkChangeChmOutDir, m_chkConsentOnRewrite});
    WatchEdits({m_editLSide, m_editWidth, m_editTSide, m_editHeight});
}

void CPropCmnOpt::OnInitDialog() {
    LoadOptions();
}

QString CPropCmnOpt::OnApply() {
    return SaveOptions();
}

void CPropCmnOpt::OnCustomSize() {
    SetModified(true);
    EnableSizeEdits(true);
}

void CPropCmnOpt::OnAutoSize() {
    SetModified(true);
    EnableSizeEdits(false);
}

void CPropCmnOpt::EnableSizeEdits(bool enable) {
    SetEnabled({m_editLSide, m_editTSide, m_editWidth, m_editHeight}, enable);
}

void CPropCmnOpt::LoadOptions() {
    const std::optional<CmnOptValues> values = LoadCmnOptions(hive_);
    if (!values)
        return;
    if (values->autoSize) {
        m_radAutoSize->setChecked(true);
    } else {
        m_radCustomSize->setChecked(true);
        EnableSizeEdits(true);
    }
    SetEditText(m_editLSide, Q(values->lSide));
    SetEditText(m_editTSide, Q(values->tSide));
    SetEditText(m_editWidth, Q(values->width));
    SetEditText(m_editHeight, Q(values->height));
    m_chkOpenAfterCompile->setChecked(values->openAfterCompile);
    m_chkSaveWndPos->setChecked(values->saveChmWndPos);
    m_chkQuitAfterCompile->setChecked(values->quitAfterCompile);
    m_chkChangeChmOutDir->setChecked(values->changeChmOutDir);
    m_chkConsentOnRewrite->setChecked(values->consentOnRewrite);
}

QString CPropCmnOpt::SaveOptions() {
    CmnOptValues values;
    values.saveChmWndPos = m_chkSaveWndPos->isChecked();
    values.autoSize = m_radAutoSize->isChecked();
    values.lSide = S(m_editLSide->text());
    values.tSide = S(m_editTSide->text());
    values.width = S(m_editWidth->text());
    values.height = S(m_editHeight->text());
    values.openAfterCompile = m_chkOpenAfterCompile->isChecked();
    values.changeChmOutDir = m_chkChangeChmOutDir->isChecked();
    values.quitAfterCompile = m_chkQuitAfterCompile->isChecked();
    values.consentOnRewrite = m_chkConsentOnRewrite->isChecked();
    return SaveFailure(SaveCmnOptions(hive_, values), kCmnOptsKey);
}

// ---------------------------------------------------------------------------
// CBtnOptDlg

CBtnOptDlg::CBtnOptDlg(RegHive hive, QWidget* parent)
    : COptPage(kBtnOptTemplate, std::move(hive), parent),
      m_chkShowHide(Bind<QCheckBox>(kIdOptShowHide)), m_chkOptions(Bind<QCheckBox>(kIdOptOptions)),
      m_chkBack(Bind<QCheckBox>(kIdOptBack)), m_chkForward(Bind<QCheckBox>(kIdOptForward)),
      m_chkStop(Bind<QCheckBox>(kIdOptStop)), m_chkRefresh(Bind<QCheckBox>(kIdOptRefresh)),
      m_chkHome(Bind<QCheckBox>(kIdOptHome)), m_chkPrint(Bind<QCheckBox>(kIdOptPrint)),
      m_chkUserLink(Bind<QCheckBox>(kIdOptUserLink)),
      m_editUserLinkUrl(Bind<QLineEdit>(kIdOptUserLinkUrl)),
      m_editUserLinkTitle(Bind<QLineEdit>(kIdOptUserLinkTitle)) {
    // The address field has no label of its own; the check box above names it.
    m_editUserLinkUrl->setAccessibleName(QStringLiteral("Адрес пользовательской ссылки"));
    LimitTextLength(m_editUserLinkUrl);
    LimitTextLength(m_editUserLinkTitle);
    SetEnabled({m_editUserLinkUrl, m_editUserLinkTitle}, false);
    // The toolbar boxes and the two texts do not mark the page changed.
    connect(m_chkUserLink, &QCheckBox::clicked, this, &CBtnOptDlg::OnUserLink);
}

void CBtnOptDlg::OnInitDialog() {
    LoadOptions();
}

QString CBtnOptDlg::OnApply() {
    return SaveOptions();
}

void CBtnOptDlg::OnUserLink() {
    SetModified(true);
    SetEnabled({m_editUserLinkUrl, m_editUserLinkTitle}, m_chkUserLink->isChecked());
}

void CBtnOptDlg::LoadOptions() {
    const std::optional<BtnOptValues> values = LoadBtnOptions(hive_);
    if (!values)
        return;
    m_chkShowHide->setChecked(values->showHide);
    m_chkBack->setChecked(values->back);
    m_chkOptions->setChecked(values->options);
    m_chkForward->setChecked(values->forward);
    m_chkStop->setChecked(values->stop);
    m_chkRefresh->setChecked(values->refresh);
    m_chkHome->setChecked(values->home);
    m_chkPrint->setChecked(values->print);
    if (values->userLink) {
        m_chkUserLink->setChecked(true);
        SetEnabled({m_editUserLinkUrl, m_editUserLinkTitle}, true);
    }
    // Shown even while the link is off, so turning it on brings them back.
    SetEditText(m_editUserLinkUrl, Q(values->userLinkUrl));
    SetEditText(m_editUserLinkTitle, Q(values->userLinkTitle));
}

QString CBtnOptDlg::SaveOptions() {
    BtnOptValues values;
    values.showHide = m_chkShowHide->isChecked();
    values.options = m_chkOptions->isChecked();
    values.back = m_chkBack->isChecked();
    values.forward = m_chkForward->isChecked();
    values.stop = m_chkStop->isChecked();
    values.refresh = m_chkRefresh->isChecked();
    values.home = m_chkHome->isChecked();
    values.print = m_chkPrint->isChecked();
    values.userLink = m_chkUserLink->isChecked();
    values.userLinkUrl = S(m_editUserLinkUrl->text());
    values.userLinkTitle = S(m_editUserLinkTitle->text());
    return SaveFailure(SaveBtnOptions(hive_, values), kBtnOptsKey);
}

// ---------------------------------------------------------------------------
// CNavOpt

CNavOpt::CNavOpt(RegHive hive, QWidget* parent)
    : COptPage(kNavOptTemplate, std::move(hive), parent),
      m_chkNavPanel(Bind<QCheckBox>(kIdOptNavPanel)),
      m_editNavWidth(Bind<QLineEdit>(kIdOptNavWidth)),
      m_chkNavSearch(Bind<QCheckBox>(kIdOptNavSearch)),
      m_chkNavFavorites(Bind<QCheckBox>(kIdOptNavFavorites)) {
    MakeDigitsOnly(m_editNavWidth);
    EnablePanelControls(false);
    connect(m_chkNavPanel, &QCheckBox::clicked, this, &CNavOpt::OnNavPanel);
    WatchEdits({m_editNavWidth});
    WatchClicks({m_chkNavSearch, m_chkNavFavorites});
}

void CNavOpt::OnInitDialog() {
    LoadOptions();
}

QString CNavOpt::OnApply() {
    return SaveOptions();
}

void CNavOpt::OnNavPanel() {
    SetModified(true);
    EnablePanelControls(m_chkNavPanel->isChecked());
}

void CNavOpt::EnablePanelControls(bool enable) {
    SetEnabled({m_editNavWidth, m_chkNavSearch, m_chkNavFavorites}, enable);
}

void CNavOpt::LoadOptions() {
    const NavOptValues values = LoadNavOptions(hive_);
    if (values.navPanel) {
        m_chkNavPanel->setChecked(true);
        EnablePanelControls(true);
    }
    SetEditText(m_editNavWidth, Q(values.navWidth));
    m_chkNavSearch->setChecked(values.navSearch);
    m_chkNavFavorites->setChecked(values.navFavorites);
}

QString CNavOpt::SaveOptions() {
    NavOptValues values;
    values.navFavorites = m_chkNavFavorites->isChecked();
    values.navSearch = m_chkNavSearch->isChecked();
    values.navPanel = m_chkNavPanel->isChecked();
    values.navWidth = S(m_editNavWidth->text());
    return SaveFailure(SaveNavOptions(hive_, values), kNavOptsKey);
}

// ---------------------------------------------------------------------------
// CDestructOpt

CDestructOpt::CDestructOpt(RegHive hive, QWidget* parent)
    : COptPage(kDecOptTemplate, std::move(hive), parent),
      m_chkOpnDecDir(Bind<QCheckBox>(kIdOptOpnDecDir)),
      m_chkChgDecDir(Bind<QCheckBox>(kIdOptChgDecDir)),
      m_chkQuitAfterDec(Bind<QCheckBox>(kIdOptQuitAfterDec)) {
    WatchClicks({m_chkOpnDecDir, m_chkChgDecDir, m_chkQuitAfterDec});
}

void CDestructOpt::OnInitDialog() {
    LoadOptions();
}

QString CDestructOpt::OnApply() {
    return SaveOptions();
}

void CDestructOpt::LoadOptions() {
    const std::optional<DecOptValues> values = LoadDecOptions(hive_);
    if (!values)
        return;
    m_chkOpnDecDir->setChecked(values->opnDecDir);
    m_chkChgDecDir->setChecked(values->chgDecDir);
    m_chkQuitAfterDec->setChecked(values->quitAfterDec);
}

QString CDestructOpt::SaveOptions() {
    DecOptValues values;
    values.opnDecDir = m_chkOpnDecDir->isChecked();
    values.chgDecDir = m_chkChgDecDir->isChecked();
    values.quitAfterDec = m_chkQuitAfterDec->isChecked();
    return SaveFailure(SaveDecOptions(hive_, values), kDecOptsKey);
}

// ---------------------------------------------------------------------------
// CIndOpt

CIndOpt::CIndOpt(RegHive hive, IDialogs& dialogs, std::string programFolder, QWidget* parent)
    : COptPage(kIndOptTemplate, std::move(hive), parent), dialogs_(dialogs),
      programFolder_(std::move(programFolder)), m_editCssPath(Bind<QLineEdit>(kIdOptCssPath)),
      m_cmbCssStyle(Bind<QComboBox>(kIdOptCssStyle)),
      m_btnBrowseCss(Bind<QPushButton>(kIdOptBrowseCss)),
      m_chkIndexingFinish(Bind<QCheckBox>(kIdOptIndexingFinish)),
      m_chkSendToCompiler(Bind<QCheckBox>(kIdOptSendToCompiler)),
      m_chkCopyCss(Bind<QCheckBox>(kIdOptCopyCss)) {
    LimitTextLength(m_editCssPath);
    WatchClicks({m_chkIndexingFinish, m_chkSendToCompiler, m_chkCopyCss});
    WatchEdits({m_editCssPath});
    // Only the user's choice counts as a change, not the filling of the list.
    connect(m_cmbCssStyle, &QComboBox::activated, this, &COptPage::OnOptionChanged);
    connect(m_btnBrowseCss, &QPushButton::clicked, this, &CIndOpt::OnBrowseCss);
}

void CIndOpt::OnInitDialog() {
    LoadOptions();
}

QString CIndOpt::OnApply() {
    return SaveOptions();
}

void CIndOpt::OnBrowseCss() {
    const QString folder =
        PickFolder(dialogs_, this, QString::fromUtf8(kCssPickerTitle),
                   StartFolderFor(Q(CssFolder(S(m_editCssPath->text()), programFolder_))));
    if (folder.isEmpty())
        return;
    SetEditText(m_editCssPath, folder);
    FillCssList(folder);
}

void CIndOpt::FillCssList(const QString& folderText) {
    m_cmbCssStyle->clear();
    for (const std::string& name : ListCssFiles(CssFolder(S(folderText), programFolder_)))
        m_cmbCssStyle->addItem(Q(name));
    m_cmbCssStyle->setCurrentIndex(0);
}

void CIndOpt::LoadOptions() {
    const IndOptValues values = LoadIndOptions(hive_);
    m_chkIndexingFinish->setChecked(values.indexingFinish);
    m_chkSendToCompiler->setChecked(values.sendToCompiler);
    m_chkCopyCss->setChecked(values.copyCss);
    // The stored text itself is shown, "Default" included, not the folder it names.
    SetEditText(m_editCssPath, Q(values.cssPath));
    FillCssList(m_editCssPath->text());
    std::vector<std::string> items;
    for (int i = 0; i < m_cmbCssStyle->count(); ++i)
        items.push_back(S(m_cmbCssStyle->itemText(i)));
    m_cmbCssStyle->setCurrentIndex(static_cast<int>(FindCssItem(items, values.cssStyle)));
}

QString CIndOpt::SaveOptions() {
    IndOptValues values;
    values.indexingFinish = m_chkIndexingFinish->isChecked();
    values.sendToCompiler = m_chkSendToCompiler->isChecked();
    values.copyCss = m_chkCopyCss->isChecked();
    values.cssPath = S(m_editCssPath->text());
    values.cssStyle = S(m_cmbCssStyle->currentText());
    return SaveFailure(SaveIndOptions(hive_, values), kIndOptsKey);
}

} // namespace tbx
