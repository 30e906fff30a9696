#include "index/index_dlg.h"

#include "controls/dialog_builder.h"
#include "controls/dialogs.h"
#include "index/page_list.h"
#include "res/images.h"
#include "res/layouts.h"
#include "res/strings.h"
#include "text/charset.h"

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <algorithm>
#include <functional>
#include <utility>

namespace tbx {
namespace {

constexpr const char* kPickerTitle = "Выбираем каталог с HTM файлами для индексирования";
constexpr const char* kDeleteNoRow = "Для удаления файла из списка его необходимо выделить.";
// The second header ends in a Latin "a", as the window has always shown it.
constexpr const char* kTitleHeader = "Содержимое TITLE тега";
constexpr const char* kFileHeader = "Веб-страничкa";
constexpr int kTitleWidth = 265;
constexpr int kFileWidth = 120;
constexpr int kTitleColumn = 0;
constexpr int kFileColumn = 1;
// Column 1 shows the name readably; the bytes on disk ride along for the link.
constexpr int kRawNameRole = Qt::UserRole;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QString Text(int id) {
    return Q(LoadString(id));
}

// Only the title column is edited in place; a confirmed edit goes to the
// window's handler, which sets the text itself.
class TitleEditDelegate : public QStyledItemDelegate {
public:
    TitleEditDelegate(std::function<void(int, const QString&)> onEnd, QObject* parent)
        : QStyledItemDelegate(parent), onEnd_(std::move(onEnd)) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        if (index.column() != kTitleColumn)
            return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        if (auto* edit = qobject_cast<QLineEdit*>(editor))
            onEnd_(index.row(), edit->text());
    }

private:
    std::function<void(int, const QString&)> onEnd_;
};

// Shows the wait cursor while a folder is read; restored on every way out.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

// A window rather than a dialog, so that window managers offer to maximise it.
CIndexDlg::CIndexDlg(RegHive hive, IDialogs& dialogs, std::string programFolder, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      hive_(std::move(hive)), dialogs_(dialogs), programFolder_(std::move(programFolder)) {
    BuildDialog(*this, *FindDialogTemplate(kIndexTemplate));
    m_listPages = FindControl<QTreeWidget>(*this, kIdIndexPages);
    // The template size is the smallest; a folder of thousands of pages
    // wants more rows than it shows.
    templateWidth_ = width();
    MakeResizable(*this);

    const std::pair<int, void (CIndexDlg::*)()> buttons[] = {
        {kIdIndexBrowse, &CIndexDlg::OnBrowse},  {kIdIndexUp, &CIndexDlg::OnMoveUp},
        {kIdIndexDown, &CIndexDlg::OnMoveDown},  {kIdIndexDelete, &CIndexDlg::OnDeleteEntry},
        {kIdIndexEdit, &CIndexDlg::OnEditTitle}, {kIdIndexRun, &CIndexDlg::OnIndex},
        {kIdIndexBack, &CIndexDlg::OnBack},
    };
    for (const auto& [id, handler] : buttons)
        connect(FindControl<QPushButton>(*this, id), &QPushButton::clicked, this, handler);

    OnInitDialog();
}

void CIndexDlg::OnInitDialog() {
    setWindowIcon(ProgramIcon());
    setModal(true);
    m_listPages->setColumnCount(2);
    m_listPages->setHeaderLabels({QString::fromUtf8(kTitleHeader), QString::fromUtf8(kFileHeader)});
    m_listPages->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_listPages->setColumnWidth(kTitleColumn, kTitleWidth);
    m_listPages->setColumnWidth(kFileColumn, kFileWidth);
    m_listPages->setEditTriggers(QAbstractItemView::SelectedClicked |
                                 QAbstractItemView::EditKeyPressed);
    m_listPages->setItemDelegate(new TitleEditDelegate(
        [this](int row, const QString& text) { OnEndLabelEdit(row, text); }, m_listPages));
    // No label names the list, so it carries its own name for screen readers.
    m_listPages->setAccessibleName(QStringLiteral("Страницы каталога"));
    m_listPages->installEventFilter(this);
    m_listPages->setFocus();
}

void CIndexDlg::Message(const QString& text, bool error) {
    dialogs_.ShowMessage(this, text, error ? MessageIcon::Error : MessageIcon::Information);
}

QIcon CIndexDlg::IconFor(const std::string& path, bool isFolder) {
    const QFileInfo info(Q(path));
    const QString kind = isFolder ? QStringLiteral("/") : info.suffix().toLower();
    auto found = iconCache_.find(kind);
    if (found == iconCache_.end()) {
        const QIcon icon = isFolder ? m_iconProvider.icon(QAbstractFileIconProvider::Folder)
                                    : m_iconProvider.icon(info);
        found = iconCache_.insert(kind, icon);
    }
    return *found;
}

void CIndexDlg::FillPageList(const std::string& folder) {
    const WaitCursor wait;
    const std::vector<PageEntry> pages = ListPages(folder);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(pages.size()));
    for (const PageEntry& page : pages) {
        auto* item = new QTreeWidgetItem;
        item->setText(kTitleColumn, Q(page.title));
        item->setIcon(kTitleColumn, IconFor(folder + page.name, page.isFolder));
        item->setText(kFileColumn, Q(DecodeLegacyText(page.name)));
        item->setData(kFileColumn, kRawNameRole,
                      QByteArray(page.name.data(), static_cast<qsizetype>(page.name.size())));
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable);
        items.append(item);
    }
    // One insertion keeps a folder of thousands of pages quick.
    m_listPages->addTopLevelItems(items);
}

void CIndexDlg::OnBrowse() {
    const QString chosen =
        PickFolder(dialogs_, this, QString::fromUtf8(kPickerTitle), StartFolderFor(Q(m_strFolder)));
    // A cancelled choice changes nothing: the rows keep the folder they came
    // from, so a later index page still lands beside them.
    if (chosen.isEmpty())
        return;
    ListFolder(chosen);
}

void CIndexDlg::ListFolder(const QString& folder) {
    m_strFolder = folder.toStdString();
    m_listPages->clear();
    FillPageList(m_strFolder);
    listChanged_ = false;
}

bool CIndexDlg::eventFilter(QObject* watched, QEvent* event) {
    // Only the list's own keys: in the title editor Delete edits the text.
    if (watched == m_listPages && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            OnDeleteEntry();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool CIndexDlg::MayClose() {
    return !listChanged_ || dialogs_.AskYesNo(this, Text(kMsgIndexUnwritten));
}

void CIndexDlg::reject() {
    if (MayClose())
        QDialog::reject();
}

void CIndexDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FitControls(*this);
    m_listPages->setColumnWidth(kTitleColumn, kTitleWidth + std::max(0, width() - templateWidth_));
}

int CIndexDlg::CurrentRow() const {
    QTreeWidgetItem* current = m_listPages->currentItem();
    if (current && current->isSelected())
        return m_listPages->indexOfTopLevelItem(current);
    const QList<QTreeWidgetItem*> selected = m_listPages->selectedItems();
    return selected.isEmpty() ? -1 : m_listPages->indexOfTopLevelItem(selected.front());
}

void CIndexDlg::MoveCurrentRow(int step, int noRowMessage, int edgeMessage) {
    const int row = CurrentRow();
    if (row < 0) {
        Message(Text(noRowMessage));
        return;
    }
    const int target = row + step;
    if (target < 0 || target >= m_listPages->topLevelItemCount()) {
        Message(Text(edgeMessage));
        return;
    }
    QTreeWidgetItem* item = m_listPages->takeTopLevelItem(row);
    m_listPages->insertTopLevelItem(target, item);
    listChanged_ = true;
    m_listPages->setCurrentItem(item);
    item->setSelected(true);
    m_listPages->scrollToItem(item);
}

void CIndexDlg::OnMoveUp() {
    MoveCurrentRow(-1, 125, 126);
}

void CIndexDlg::OnMoveDown() {
    MoveCurrentRow(+1, 127, 128);
}

void CIndexDlg::OnDeleteEntry() {
    const int row = CurrentRow();
    if (row < 0) {
        Message(QString::fromUtf8(kDeleteNoRow));
        return;
    }
    delete m_listPages->takeTopLevelItem(row);
    listChanged_ = true;
    // The row that moved into the gap (or the new last row) is next in line,
    // so entries can be dropped one after another.
    const int count = m_listPages->topLevelItemCount();
    if (count > 0) {
        QTreeWidgetItem* next = m_listPages->topLevelItem(std::min(row, count - 1));
        m_listPages->setCurrentItem(next);
        next->setSelected(true);
    }
}

void CIndexDlg::OnEditTitle() {
    const int row = CurrentRow();
    if (row < 0) {
        Message(Text(129));
        return;
    }
    m_listPages->setFocus();
    m_listPages->editItem(m_listPages->topLevelItem(row), kTitleColumn);
}

void CIndexDlg::OnEndLabelEdit(int row, const QString& text) {
    QTreeWidgetItem* item = m_listPages->topLevelItem(row);
    if (!item || item->text(kTitleColumn) == text)
        return;
    item->setText(kTitleColumn, text);
    listChanged_ = true;
}

std::vector<IndexRow> CIndexDlg::Rows() const {
    std::vector<IndexRow> rows;
    const int count = m_listPages->topLevelItemCount();
    rows.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const QTreeWidgetItem* item = m_listPages->topLevelItem(i);
        const QByteArray raw = item->data(kFileColumn, kRawNameRole).toByteArray();
        rows.push_back({item->text(kTitleColumn).toStdString(), raw.toStdString()});
    }
    return rows;
}

void CIndexDlg::OnIndex() {
    if (m_listPages->topLevelItemCount() == 0) {
        Message(Text(130));
        return;
    }
    const IndexOutcome outcome =
        WriteIndex(m_fileIndex, hive_, programFolder_, m_strFolder, Rows());
    switch (outcome.status) {
    case IndexStatus::NoFolder:
        Message(Text(kMsgIndexNoFolder));
        return;
    case IndexStatus::WriteFailed:
        Message(Text(kMsgIndexWriteFailed) + '\n' + Q(outcome.pagePath) + '\n' + Q(outcome.error),
                true);
        return;
    case IndexStatus::Written:
        listChanged_ = false;
        break;
    }
    if (!outcome.cssCopyError.empty())
        Message(Text(kMsgIndexCssCopyFailed) + '\n' + Q(outcome.cssCopyFrom) + '\n' +
                    Q(outcome.cssCopyError),
                true);

    COptKey key;
    if (key.Open(hive_, kIndOptsKey) != kErrorSuccess)
        return;
    if (m_optReg.ReadFlag(key, "IndexingFinish"))
        Message(Text(131));
    if (m_optReg.ReadFlag(key, "SendToCompiler") && dialogs_.AskYesNo(this, Text(132))) {
        key.Close();
        HandOffIndexPage(m_strFolder);
        done(1);
    }
}

void CIndexDlg::OnBack() {
    if (MayClose())
        done(1);
}

} // namespace tbx
