#pragma once
// The index window: lists the pages of a folder with their titles, lets the
// user order, drop and retitle them, and writes "index_tbx.html" from them.

#include "index/index_page.h"
#include "platform/registry.h"
#include "settings/opt_store.h"

#include <QDialog>
#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QString>
#include <string>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace tbx {

class IDialogs;

class CIndexDlg : public QDialog {
    Q_OBJECT
public:
    // programFolder ends with "/" and holds css_dir.
    CIndexDlg(RegHive hive, IDialogs& dialogs, std::string programFolder,
              QWidget* parent = nullptr);

    // Handlers, public so that tests can drive them as a click would.
    void OnInitDialog();
    void OnBrowse();
    void OnMoveUp();
    void OnMoveDown();
    void OnDeleteEntry();
    void OnEditTitle();
    // The in-place edit of row's title was confirmed with text.
    void OnEndLabelEdit(int row, const QString& text);
    void OnIndex();
    void OnBack();

    // Replaces nothing: appends the pages of folder (ending with "/") to the list.
    void FillPageList(const std::string& folder);
    // What "Обзор ..." does once a folder is chosen: the rows become the
    // pages of folder (ending with "/"). Also used for a folder named at start.
    void ListFolder(const QString& folder);

    // The row the buttons act on, or -1 when no row is selected.
    int CurrentRow() const;
    // The list as the page will show it, in list order.
    std::vector<IndexRow> Rows() const;
    const std::string& Folder() const { return m_strFolder; }

    // True when rows were moved, dropped or retitled since the folder was
    // listed or the page last written.
    bool ListChanged() const { return listChanged_; }

    // Escape and the close box: asks first when the changes would be lost.
    void reject() override;

protected:
    // The list grows with the window; the buttons keep to its right edge.
    void resizeEvent(QResizeEvent* event) override;
    // The Delete key on the list drops the current row as "Удалить" does.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Message(const QString& text, bool error = false);
    // True when nothing unwritten would be lost, or the user lets it go.
    bool MayClose();
    void MoveCurrentRow(int step, int noRowMessage, int edgeMessage);
    QIcon IconFor(const std::string& path, bool isFolder);

    RegHive hive_;
    IDialogs& dialogs_;
    std::string programFolder_;
    COptReg m_optReg;
    CIndexPageFile m_fileIndex;
    QTreeWidget* m_listPages = nullptr;
    std::string m_strFolder;
    bool listChanged_ = false;
    QFileIconProvider m_iconProvider;
    // One icon per kind of file: asking the provider per file costs too much
    // in a folder of thousands of pages.
    QHash<QString, QIcon> iconCache_;
    int templateWidth_ = 0; // the title column takes what the window gains
};

} // namespace tbx
