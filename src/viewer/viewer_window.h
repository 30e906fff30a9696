#pragma once
// The help viewer: one help file in a window laid out as its window
// definition asks, with contents, index, search and favourites beside the
// page, the pages shown by Qt WebEngine straight from the file.

#include "viewer/viewer_layout.h"

#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPrinter;
class QPushButton;
class QSplitter;
class QTabWidget;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;
class QWebEngineProfile;
class QWebEngineView;

namespace tbx {

class IShell;

namespace viewer {
class HelpDocument;
} // namespace viewer
namespace site {
struct SitemapNode;
} // namespace site

class ViewerWindow : public QMainWindow {
    Q_OBJECT
public:
    // shell opens web links; it must outlive the window.
    explicit ViewerWindow(IShell& shell, QWidget* parent = nullptr);
    ~ViewerWindow() override;

    // Reads the help file off the interface thread, then lays the window
    // out and shows topic (a stored name), else the file's start page.
    void OpenHelpFile(const QString& path, const QString& topic = {});

    // The file shown, null until it is read (or when it could not be).
    const viewer::HelpDocument* Document() const { return document_.get(); }
    // The stored name of the page on show ("/dir/page.htm"), empty before.
    QString ShownTopic() const { return shownTopic_; }
    // The message over the page: what is missing or damaged, empty when all is well.
    QString MessageText() const;

    // The controls, for tests and for the screen reader's names.
    QTabWidget* NavTabs() const { return tabs_; }
    QTreeWidget* ContentsTree() const { return contents_; }
    QLineEdit* KeywordField() const { return keywordField_; }
    QListWidget* KeywordList() const { return keywords_; }
    QLineEdit* SearchField() const { return searchField_; }
    QTreeWidget* SearchHits() const { return hits_; }
    QLabel* SearchStatus() const { return searchStatus_; }
    QListWidget* FavoritesList() const { return favorites_; }
    QToolBar* Toolbar() const { return toolbar_; }
    QWebEngineView* PageView() const { return view_; }
    QWidget* NavPane() const;

    // Handlers, public so that tests can drive them as a click would.
    void OnContentsActivated(QTreeWidgetItem* item);
    void OnKeywordEdited(const QString& text);
    void OnDisplayKeyword();
    void OnListTopics();
    void OnDisplayHit();
    void OnHideShow();
    void OnHome();
    void OnPrint();
    void OnAddFavorite();
    void OnRemoveFavorite();
    void OnFavoriteActivated(QListWidgetItem* item);
    // Shows a stored page of the file ("/dir/page.htm"), at fragment.
    void ShowTopic(const std::string& stored, const std::string& fragment = {});
    // Follows a link as written in the file's sitemaps or definition.
    void FollowLink(const std::string& link);

signals:
    // The file has been read and the window laid out, or it could not be read.
    void Opened();
    // A page has finished loading (ok false: it could not be shown).
    void TopicShown(bool ok);
    // A search has ended, its hits listed or its message shown.
    void SearchFinished();
    // A link leads into another help file (found beside this one): whoever
    // keeps the windows opens it; with nobody listening, this window does.
    void HelpFileRequested(const QString& path, const QString& topic);

private:
    void OnDocumentRead(std::shared_ptr<viewer::HelpDocument> document, const QString& error,
                        const QString& topic);
    void OnLoadFinished(bool ok);
    void OnUrlChanged(const QUrl& url);
    void OnOutsideLink(const QUrl& url);
    void BuildLayout();
    QWidget* MakeContentsTab();
    QWidget* MakeIndexTab();
    QWidget* MakeSearchTab();
    QWidget* MakeFavoritesTab();
    void MakeToolbar();
    void PlaceWindow();
    void FillContents(const std::vector<site::SitemapNode>& nodes, QTreeWidgetItem* parent);
    void FillKeywords(const std::vector<site::SitemapNode>& nodes, int depth);
    void SyncContents();
    void SetMessage(const QString& text);
    void ShowCaption();
    void OpenOtherHelpFile(const std::string& helpFile, const std::string& stored);
    void OpenWebLink(const QString& address);

    IShell& shell_;
    std::shared_ptr<viewer::HelpDocument> document_;
    QString path_;
    QString shownTopic_;
    QString baseMessage_; // what the file lacks; page messages come and go under it

    QLabel* message_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QTreeWidget* contents_ = nullptr;
    QLineEdit* keywordField_ = nullptr;
    QListWidget* keywords_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    QTreeWidget* hits_ = nullptr;
    QLabel* searchStatus_ = nullptr;
    QPushButton* listTopics_ = nullptr;
    QListWidget* favorites_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QAction* hideShow_ = nullptr;
    QWebEngineProfile* profile_ = nullptr;
    QWebEngineView* view_ = nullptr;
    // Keyword list rows -> their sitemap entries, which the document holds.
    std::vector<const site::SitemapNode*> keywordNodes_;
    QIcon bookIcon_, pageIcon_; // of the contents entries
    int searchesRunning_ = 0;
    std::unique_ptr<QPrinter> printer_; // while a page prints
};

} // namespace tbx
