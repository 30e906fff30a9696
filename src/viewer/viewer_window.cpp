#include "viewer/viewer_window.h"

#include "platform/shell.h"
#include "res/strings.h"
#include "text/text_case.h"
#include "viewer/help_document.h"
#include "viewer/help_link.h"
#include "viewer/help_scheme.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaMethod>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QThreadPool>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace tbx {
namespace {

using site::SitemapNode;
using viewer::HelpDocument;
using viewer::HelpLink;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QString Str(int id) {
    return Q(LoadString(id));
}

std::string S(const QString& text) {
    return text.toStdString();
}

// A label that names the control under it, for the screen reader too.
QLabel* LabelFor(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

// The topics a keyword leads to, for the user to choose one, as the Windows
// viewer asks: "Найденные разделы".
class TopicsFoundDlg : public QDialog {
public:
    TopicsFoundDlg(const std::vector<site::SitemapTarget>& targets, QWidget* parent)
        : QDialog(parent) {
        setObjectName(QStringLiteral("topicsFound"));
        setWindowTitle(Str(kStrViewerTopicsFound));
        auto* list = new QListWidget;
        list->setObjectName(QStringLiteral("topics"));
        for (const site::SitemapTarget& target : targets)
            list->addItem(Q(target.name));
        list->setCurrentRow(0);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
        buttons->addButton(Str(kStrViewerDisplay), QDialogButtonBox::AcceptRole);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(list, &QListWidget::itemActivated, this, &QDialog::accept);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(LabelFor(Str(kStrViewerChooseTopic), list));
        layout->addWidget(list);
        layout->addWidget(buttons);
        list_ = list;
        resize(420, 300);
    }
    int Chosen() const { return list_->currentRow(); }

private:
    QListWidget* list_;
};

constexpr int kLinkRole = Qt::UserRole;
constexpr int kNodeRole = Qt::UserRole + 1;

// The HTML Help control's objects (keywords for the index, "Related topics"
// buttons) do nothing outside Windows; unhidden, each is an empty box on the
// page, and DocBook puts one wherever the text has an index term.
QWebEngineScript HiddenHelpControlsScript() {
    QWebEngineScript script;
    script.setName(QStringLiteral("hidden-help-controls"));
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setSourceCode(QStringLiteral(
        "(function () { var s = document.createElement('style');"
        " s.textContent = 'object[classid=\"clsid:1e2a7bd0-dab9-11d0-b93a-00c04fc99f9e\" i]"
        " { display: none !important; }';"
        " (document.head || document.documentElement).appendChild(s); })();"));
    return script;
}

} // namespace

ViewerWindow::ViewerWindow(IShell& shell, QWidget* parent) : QMainWindow(parent), shell_(shell) {
    setWindowTitle(QStringLiteral("Tomebox!"));
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    message_ = new QLabel;
    message_->setObjectName(QStringLiteral("viewerMessage"));
    message_->setAccessibleName(QStringLiteral("Сообщение"));
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->setMargin(6);
    message_->setStyleSheet(QStringLiteral("background: #fff4ce; color: black;"));
    message_->hide();
    layout->addWidget(message_);
    splitter_ = new QSplitter(Qt::Horizontal);
    layout->addWidget(splitter_, 1);
    setCentralWidget(central);
    resize(900, 650);
}

ViewerWindow::~ViewerWindow() {
    // The page goes before its profile.
    if (view_)
        delete view_->page();
}

QString ViewerWindow::MessageText() const {
    return message_->isVisible() || !message_->text().isEmpty() ? message_->text() : QString();
}

QWidget* ViewerWindow::NavPane() const {
    return tabs_;
}

void ViewerWindow::OpenHelpFile(const QString& path, const QString& topic) {
    path_ = path;
    setWindowTitle(QFileInfo(path).fileName());
    SetMessage(Str(kMsgViewerOpening));
    QPointer<ViewerWindow> self(this);
    const std::string file = S(path);
    QThreadPool::globalInstance()->start([self, file, topic] {
        std::string error;
        std::shared_ptr<HelpDocument> document;
        try {
            document = HelpDocument::Open(file, error);
        } catch (const std::bad_alloc&) {
            error = "out of memory";
        }
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, document, error, topic] {
                if (self)
                    self->OnDocumentRead(document, Q(error), topic);
            },
            Qt::QueuedConnection);
    });
}

void ViewerWindow::OnDocumentRead(std::shared_ptr<HelpDocument> document, const QString& error,
                                  const QString& topic) {
    if (!document) {
        baseMessage_ = Q(FillString(kMsgViewerNotOpened, {S(path_), S(error)}));
        SetMessage({});
        emit Opened();
        return;
    }
    document_ = std::move(document);
    QStringList lines;
    if (!document_->Problems().empty()) {
        lines << Str(kMsgViewerPartlyRead);
        for (const std::string& problem : document_->Problems())
            lines << QStringLiteral("• ") + Q(problem);
    }
    if (document_->StartTopic().empty())
        lines << Str(kMsgViewerNoPages);
    baseMessage_ = lines.join(QLatin1Char('\n'));
    BuildLayout();
    SetMessage({});
    const std::string first = topic.isEmpty() ? document_->StartTopic() : S(topic);
    if (!first.empty())
        ShowTopic(first);
    emit Opened();
}

void ViewerWindow::BuildLayout() {
    const viewer::ViewerLayout& layout = document_->Layout();
    ShowCaption();

    profile_ = new QWebEngineProfile(this); // off the record: nothing kept on disk
    profile_->scripts()->insert(HiddenHelpControlsScript());
    auto* handler = new viewer::HelpSchemeHandler(document_, profile_);
    for (const std::string_view scheme :
         {viewer::kHelpScheme, viewer::kItsScheme, viewer::kMkScheme})
        profile_->installUrlSchemeHandler(
            QByteArray(scheme.data(), static_cast<qsizetype>(scheme.size())), handler);
    view_ = new QWebEngineView;
    view_->setAccessibleName(QStringLiteral("Страница"));
    auto* page = new viewer::HelpPage(
        profile_, document_, [this](const QUrl& url) { OnOutsideLink(url); }, view_);
    view_->setPage(page);
    connect(view_, &QWebEngineView::loadFinished, this, &ViewerWindow::OnLoadFinished);
    connect(view_, &QWebEngineView::urlChanged, this, &ViewerWindow::OnUrlChanged);
    connect(view_, &QWebEngineView::titleChanged, this, [this] { ShowCaption(); });

    if (layout.navigation) {
        tabs_ = new QTabWidget;
        tabs_->setAccessibleName(QStringLiteral("Панель навигации"));
        QWidget* first = nullptr;
        auto add = [&](bool wanted, viewer::NavTab kind, QWidget* (ViewerWindow::*make)(),
                       int title) {
            if (!wanted)
                return;
            QWidget* tab = (this->*make)();
            tabs_->addTab(tab, Str(title));
            if (kind == layout.firstTab || !first)
                first = tab;
        };
        // A tab the file lacks the data for still shows, saying so, where
        // the definition asks for it.
        add(layout.contentsTab || !document_->HasContents(), viewer::NavTab::Contents,
            &ViewerWindow::MakeContentsTab, kStrViewerContents);
        add(layout.indexTab || !document_->HasKeywords(), viewer::NavTab::Index,
            &ViewerWindow::MakeIndexTab, kStrViewerIndex);
        add(layout.searchTab, viewer::NavTab::Search, &ViewerWindow::MakeSearchTab,
            kStrViewerSearch);
        add(layout.favoritesTab, viewer::NavTab::Favorites, &ViewerWindow::MakeFavoritesTab,
            kStrViewerFavorites);
        if (first)
            tabs_->setCurrentWidget(first);
        splitter_->addWidget(tabs_);
    }
    splitter_->addWidget(view_);
    splitter_->setStretchFactor(splitter_->indexOf(view_), 1);
    if (tabs_) {
        const int navWidth = layout.navWidth > 0 ? layout.navWidth : 260;
        splitter_->setSizes({navWidth, std::max(200, width() - navWidth)});
        if (layout.navClosed)
            tabs_->hide();
    }
    if (layout.toolbar)
        MakeToolbar();
    PlaceWindow();
}

QWidget* ViewerWindow::MakeContentsTab() {
    auto* tab = new QWidget;
    auto* box = new QVBoxLayout(tab);
    contents_ = new QTreeWidget;
    contents_->setHeaderHidden(true);
    contents_->setAccessibleName(Str(kStrViewerContents));
    box->addWidget(contents_);
    if (document_->HasContents()) {
        // The icons once: the style looks them up in the theme each time.
        bookIcon_ = style()->standardIcon(QStyle::SP_DirIcon);
        pageIcon_ = style()->standardIcon(QStyle::SP_FileIcon);
        FillContents(document_->Contents(), nullptr);
    } else {
        auto* none = new QLabel(Str(kMsgViewerNoContents));
        none->setWordWrap(true);
        box->addWidget(none);
    }
    connect(contents_, &QTreeWidget::itemActivated, this, &ViewerWindow::OnContentsActivated);
    connect(contents_, &QTreeWidget::itemClicked, this, &ViewerWindow::OnContentsActivated);
    return tab;
}

QWidget* ViewerWindow::MakeIndexTab() {
    auto* tab = new QWidget;
    auto* box = new QVBoxLayout(tab);
    keywordField_ = new QLineEdit;
    keywords_ = new QListWidget;
    box->addWidget(LabelFor(Str(kStrViewerKeywordLabel), keywordField_));
    box->addWidget(keywordField_);
    box->addWidget(keywords_, 1);
    keywords_->setAccessibleName(Str(kStrViewerIndex));
    auto* display = new QPushButton(Str(kStrViewerDisplay));
    box->addWidget(display, 0, Qt::AlignRight);
    if (document_->HasKeywords()) {
        FillKeywords(document_->Keywords(), 0);
    } else {
        auto* none = new QLabel(Str(kMsgViewerNoKeywords));
        none->setWordWrap(true);
        box->insertWidget(2, none);
    }
    connect(keywordField_, &QLineEdit::textEdited, this, &ViewerWindow::OnKeywordEdited);
    connect(keywordField_, &QLineEdit::returnPressed, this, &ViewerWindow::OnDisplayKeyword);
    connect(keywords_, &QListWidget::itemActivated, this, [this] { OnDisplayKeyword(); });
    connect(display, &QPushButton::clicked, this, &ViewerWindow::OnDisplayKeyword);
    return tab;
}

QWidget* ViewerWindow::MakeSearchTab() {
    auto* tab = new QWidget;
    auto* box = new QVBoxLayout(tab);
    searchField_ = new QLineEdit;
    box->addWidget(LabelFor(Str(kStrViewerSearchLabel), searchField_));
    box->addWidget(searchField_);
    listTopics_ = new QPushButton(Str(kStrViewerListTopics));
    box->addWidget(listTopics_, 0, Qt::AlignRight);
    searchStatus_ = new QLabel;
    searchStatus_->setWordWrap(true);
    box->addWidget(searchStatus_);
    hits_ = new QTreeWidget;
    hits_->setRootIsDecorated(false);
    hits_->setHeaderLabels({Str(kStrViewerTitleColumn), Str(kStrViewerRankColumn)});
    // The title takes the room; the rank needs only its digits.
    hits_->header()->setStretchLastSection(false);
    hits_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    hits_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    hits_->setAccessibleName(Str(kStrViewerSearch));
    box->addWidget(hits_, 1);
    auto* display = new QPushButton(Str(kStrViewerDisplay));
    box->addWidget(display, 0, Qt::AlignRight);
    if (!document_->HasSearchIndex()) {
        searchStatus_->setText(Str(kMsgViewerNoSearchIndex));
        searchField_->setEnabled(false);
        listTopics_->setEnabled(false);
    }
    connect(searchField_, &QLineEdit::returnPressed, this, &ViewerWindow::OnListTopics);
    connect(listTopics_, &QPushButton::clicked, this, &ViewerWindow::OnListTopics);
    connect(hits_, &QTreeWidget::itemActivated, this, [this] { OnDisplayHit(); });
    connect(display, &QPushButton::clicked, this, &ViewerWindow::OnDisplayHit);
    return tab;
}

QWidget* ViewerWindow::MakeFavoritesTab() {
    auto* tab = new QWidget;
    auto* box = new QVBoxLayout(tab);
    favorites_ = new QListWidget;
    favorites_->setAccessibleName(Str(kStrViewerFavorites));
    box->addWidget(favorites_, 1);
    auto* row = new QHBoxLayout;
    auto* add = new QPushButton(Str(kStrViewerAddFavorite));
    auto* remove = new QPushButton(Str(kStrViewerRemoveFavorite));
    row->addWidget(add);
    row->addWidget(remove);
    box->addLayout(row);
    connect(add, &QPushButton::clicked, this, &ViewerWindow::OnAddFavorite);
    connect(remove, &QPushButton::clicked, this, &ViewerWindow::OnRemoveFavorite);
    connect(favorites_, &QListWidget::itemActivated, this, &ViewerWindow::OnFavoriteActivated);
    return tab;
}

void ViewerWindow::MakeToolbar() {
    const viewer::ViewerLayout& layout = document_->Layout();
    toolbar_ = addToolBar(QStringLiteral("Панель кнопок"));
    toolbar_->setMovable(false);
    toolbar_->setToolButtonStyle(layout.toolbarText ? Qt::ToolButtonTextUnderIcon
                                                    : Qt::ToolButtonIconOnly);
    QStyle* look = style();
    if (layout.hideShow && tabs_) {
        hideShow_ = toolbar_->addAction(
            look->standardIcon(QStyle::SP_FileDialogListView),
            Str(tabs_->isVisible() || !layout.navClosed ? kStrViewerHide : kStrViewerShow), this,
            &ViewerWindow::OnHideShow);
    }
    if (layout.back) {
        QAction* back = view_->pageAction(QWebEnginePage::Back);
        back->setText(Str(kStrViewerBack));
        back->setIcon(look->standardIcon(QStyle::SP_ArrowBack));
        toolbar_->addAction(back);
    }
    if (layout.forward) {
        QAction* forward = view_->pageAction(QWebEnginePage::Forward);
        forward->setText(Str(kStrViewerForward));
        forward->setIcon(look->standardIcon(QStyle::SP_ArrowForward));
        toolbar_->addAction(forward);
    }
    if (layout.home)
        toolbar_->addAction(look->standardIcon(QStyle::SP_DirHomeIcon), Str(kStrViewerHome), this,
                            &ViewerWindow::OnHome);
    if (layout.print)
        toolbar_->addAction(look->standardIcon(QStyle::SP_DialogSaveButton), Str(kStrViewerPrint),
                            this, &ViewerWindow::OnPrint);
    for (const auto* jump : {&layout.jump1, &layout.jump2}) {
        if (!*jump)
            continue;
        const std::string url = (*jump)->url;
        toolbar_->addAction(look->standardIcon(QStyle::SP_CommandLink), Q((*jump)->text), this,
                            [this, url] { FollowLink(url); });
    }
}

void ViewerWindow::PlaceWindow() {
    const auto& rect = document_->Layout().rect;
    if (!rect)
        return;
    QRect wanted(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
    const QScreen* screen = this->screen() ? this->screen() : QApplication::primaryScreen();
    if (screen) {
        const QRect room = screen->availableGeometry();
        // A window bigger than the screen, or off it, is brought onto it.
        wanted.setWidth(std::min(wanted.width(), room.width()));
        wanted.setHeight(std::min(wanted.height(), room.height()));
        if (!room.contains(wanted))
            wanted.moveTo(
                std::clamp(wanted.left(), room.left(), room.right() - wanted.width() + 1),
                std::clamp(wanted.top(), room.top(), room.bottom() - wanted.height() + 1));
    }
    if (wanted.width() >= 200 && wanted.height() >= 150)
        setGeometry(wanted);
}

void ViewerWindow::FillContents(const std::vector<SitemapNode>& nodes, QTreeWidgetItem* parent) {
    // Items are built apart from the tree and handed to it at once: one by
    // one, each insertion would lay the whole tree out again.
    QList<QTreeWidgetItem*> items;
    for (const SitemapNode& node : nodes) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, Q(node.name.empty() && !node.targets.empty() ? node.targets.front().local
                                                                      : node.name));
        item->setIcon(0, node.IsBook() ? bookIcon_ : pageIcon_);
        if (!node.targets.empty())
            item->setData(0, kLinkRole, Q(node.targets.front().local));
        if (!node.children.empty())
            FillContents(node.children, item);
        items << item;
    }
    if (parent)
        parent->addChildren(items);
    else
        contents_->addTopLevelItems(items);
}

void ViewerWindow::FillKeywords(const std::vector<SitemapNode>& nodes, int depth) {
    for (const SitemapNode& node : nodes) {
        auto* item = new QListWidgetItem(QString(depth * 4, QLatin1Char(' ')) + Q(node.name));
        item->setData(kNodeRole, static_cast<int>(keywordNodes_.size()));
        keywordNodes_.push_back(&node);
        keywords_->addItem(item);
        FillKeywords(node.children, depth + 1);
    }
}

void ViewerWindow::OnContentsActivated(QTreeWidgetItem* item) {
    if (!item)
        return;
    const QString link = item->data(0, kLinkRole).toString();
    if (link.isEmpty()) {
        item->setExpanded(!item->isExpanded()); // a heading opens and closes
        return;
    }
    FollowLink(S(link));
}

void ViewerWindow::OnKeywordEdited(const QString& text) {
    const QString wanted = text.trimmed();
    if (wanted.isEmpty())
        return;
    for (int row = 0; row < keywords_->count(); ++row) {
        const QString name = keywords_->item(row)->text().trimmed();
        if (name.startsWith(wanted, Qt::CaseInsensitive)) {
            keywords_->setCurrentRow(row);
            keywords_->scrollToItem(keywords_->item(row), QAbstractItemView::PositionAtTop);
            return;
        }
    }
}

void ViewerWindow::OnDisplayKeyword() {
    QListWidgetItem* item = keywords_ ? keywords_->currentItem() : nullptr;
    if (!item)
        return;
    const int index = item->data(kNodeRole).toInt();
    if (index < 0 || static_cast<std::size_t>(index) >= keywordNodes_.size())
        return;
    const SitemapNode& node = *keywordNodes_[static_cast<std::size_t>(index)];
    if (node.targets.empty()) {
        // "See Also" leads to another keyword.
        if (!node.seeAlso.empty()) {
            keywordField_->setText(Q(node.seeAlso));
            OnKeywordEdited(Q(node.seeAlso));
        }
        return;
    }
    if (node.targets.size() == 1) {
        FollowLink(node.targets.front().local);
        return;
    }
    auto* chooser = new TopicsFoundDlg(node.targets, this);
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    const std::vector<site::SitemapTarget> targets = node.targets;
    connect(chooser, &QDialog::accepted, this, [this, chooser, targets] {
        const int row = chooser->Chosen();
        if (row >= 0 && static_cast<std::size_t>(row) < targets.size())
            FollowLink(targets[static_cast<std::size_t>(row)].local);
    });
    chooser->open();
}

void ViewerWindow::OnListTopics() {
    if (!document_ || !searchField_ || !document_->HasSearchIndex())
        return;
    const std::string query = S(searchField_->text());
    hits_->clear();
    searchStatus_->setText(Str(kMsgViewerSearching));
    ++searchesRunning_;
    QPointer<ViewerWindow> self(this);
    std::shared_ptr<HelpDocument> document = document_;
    QThreadPool::globalInstance()->start([self, document, query] {
        auto results = std::make_shared<chm::SearchResults>(document->Search(query));
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, results] {
                if (!self)
                    return;
                // Only the latest search is listed.
                if (--self->searchesRunning_ > 0)
                    return;
                QString status;
                switch (results->outcome) {
                case chm::SearchOutcome::Found:
                    break;
                case chm::SearchOutcome::NothingFound:
                    status = Str(kMsgViewerNothingFound);
                    break;
                case chm::SearchOutcome::NoWords:
                    status = Str(kMsgViewerNoWords);
                    break;
                case chm::SearchOutcome::NoIndex:
                    status = Str(kMsgViewerNoSearchIndex);
                    break;
                case chm::SearchOutcome::Damaged:
                    status = Str(kMsgViewerSearchDamaged) + QLatin1Char(' ') + Q(results->problem);
                    break;
                }
                int rank = 0;
                for (const chm::SearchHit& hit : results->hits) {
                    auto* item = new QTreeWidgetItem(self->hits_);
                    item->setText(0, Q(hit.title.empty() ? hit.name : hit.title));
                    item->setText(1, QString::number(++rank));
                    item->setData(0, kLinkRole, Q(hit.name));
                }
                self->hits_->setCurrentItem(self->hits_->topLevelItem(0));
                self->searchStatus_->setText(status);
                emit self->SearchFinished();
            },
            Qt::QueuedConnection);
    });
}

void ViewerWindow::OnDisplayHit() {
    QTreeWidgetItem* item = hits_ ? hits_->currentItem() : nullptr;
    if (item)
        ShowTopic(S(item->data(0, kLinkRole).toString()));
}

void ViewerWindow::OnHideShow() {
    if (!tabs_)
        return;
    tabs_->setVisible(!tabs_->isVisible());
    if (hideShow_)
        hideShow_->setText(Str(tabs_->isVisible() ? kStrViewerHide : kStrViewerShow));
}

void ViewerWindow::OnHome() {
    if (document_)
        ShowTopic(document_->Layout().homeTopic);
}

void ViewerWindow::OnPrint() {
    // One print at a time: the printer lives until the page is printed.
    if (!view_ || printer_)
        return;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    printer_ = std::move(printer);
    connect(
        view_, &QWebEngineView::printFinished, this, [this] { printer_.reset(); },
        Qt::SingleShotConnection);
    view_->print(printer_.get());
}

void ViewerWindow::OnAddFavorite() {
    if (shownTopic_.isEmpty() || !favorites_)
        return;
    for (int row = 0; row < favorites_->count(); ++row)
        if (favorites_->item(row)->data(kLinkRole).toString() == shownTopic_)
            return;
    QString title = view_->title();
    if (title.isEmpty())
        title = shownTopic_;
    auto* item = new QListWidgetItem(title);
    item->setData(kLinkRole, shownTopic_);
    favorites_->addItem(item);
}

void ViewerWindow::OnRemoveFavorite() {
    if (favorites_)
        delete favorites_->currentItem();
}

void ViewerWindow::OnFavoriteActivated(QListWidgetItem* item) {
    if (item)
        ShowTopic(S(item->data(kLinkRole).toString()));
}

void ViewerWindow::ShowTopic(const std::string& stored, const std::string& fragment) {
    if (!view_ || stored.empty())
        return;
    view_->load(
        QUrl::fromEncoded(QByteArray::fromStdString(viewer::HelpAddress(stored, fragment))));
}

void ViewerWindow::FollowLink(const std::string& link) {
    if (!document_)
        return;
    const HelpLink target = viewer::ResolveLink(link, "/", document_->FileName());
    switch (target.kind) {
    case HelpLink::Kind::Stored:
        ShowTopic(target.stored, target.fragment);
        break;
    case HelpLink::Kind::OtherFile:
        OpenOtherHelpFile(target.helpFile, target.stored);
        break;
    case HelpLink::Kind::Web:
        OpenWebLink(Q(target.stored));
        break;
    case HelpLink::Kind::Invalid:
        SetMessage(Str(kMsgViewerLinkNotOpened) + QLatin1Char(' ') + Q(link));
        break;
    }
}

void ViewerWindow::OnOutsideLink(const QUrl& url) {
    const QByteArray encoded = url.toEncoded();
    const HelpLink target = viewer::ResolveLink(encoded.toStdString(), "/", document_->FileName());
    switch (target.kind) {
    case HelpLink::Kind::OtherFile:
        OpenOtherHelpFile(target.helpFile, target.stored);
        break;
    case HelpLink::Kind::Web:
        OpenWebLink(url.toString());
        break;
    default:
        SetMessage(Str(kMsgViewerLinkNotOpened) + QLatin1Char(' ') + url.toDisplayString());
        break;
    }
}

void ViewerWindow::OpenOtherHelpFile(const std::string& helpFile, const std::string& stored) {
    // Another help file is looked for beside this one, in any letter case.
    const QDir folder = QFileInfo(path_).absoluteDir();
    QString found;
    for (const QString& name : folder.entryList(QDir::Files))
        if (EqualNoCase(S(name), helpFile))
            found = folder.filePath(name);
    if (found.isEmpty()) {
        SetMessage(Str(kMsgViewerOtherFileMissing) + QLatin1Char(' ') + Q(helpFile));
        return;
    }
    if (isSignalConnected(QMetaMethod::fromSignal(&ViewerWindow::HelpFileRequested))) {
        emit HelpFileRequested(found, Q(stored));
        return;
    }
    auto* other = new ViewerWindow(shell_);
    other->setAttribute(Qt::WA_DeleteOnClose);
    other->OpenHelpFile(found, Q(stored));
    other->show();
}

void ViewerWindow::OpenWebLink(const QString& address) {
    // The desktop's opener may take a moment to answer: off this thread.
    IShell* shell = &shell_;
    QPointer<ViewerWindow> self(this);
    const std::string target = S(address);
    QThreadPool::globalInstance()->start([shell, self, target] {
        if (shell->Open(target) > 32 || !self)
            return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, target] {
                if (self)
                    self->SetMessage(Str(kMsgViewerLinkNotOpened) + QLatin1Char(' ') + Q(target));
            },
            Qt::QueuedConnection);
    });
}

void ViewerWindow::OnUrlChanged(const QUrl& url) {
    const HelpLink link = viewer::ResolveLink(url.toEncoded().toStdString(), "/",
                                              document_ ? document_->FileName() : "");
    if (link.kind == HelpLink::Kind::Stored)
        shownTopic_ = Q(link.stored);
}

void ViewerWindow::OnLoadFinished(bool ok) {
    if (ok) {
        SetMessage({});
        SyncContents();
    } else if (!shownTopic_.isEmpty() && document_ && !document_->Holds(S(shownTopic_))) {
        SetMessage(Str(kMsgViewerPageMissing) + QLatin1Char(' ') + shownTopic_);
    }
    ShowCaption();
    emit TopicShown(ok);
}

void ViewerWindow::SyncContents() {
    if (!contents_ || !document_ || !document_->Layout().syncContents)
        return;
    const std::string shown = S(shownTopic_);
    QTreeWidgetItemIterator it(contents_);
    for (; *it; ++it) {
        const QString link = (*it)->data(0, kLinkRole).toString();
        if (link.isEmpty())
            continue;
        const HelpLink target = viewer::ResolveLink(S(link), "/", document_->FileName());
        if (target.kind == HelpLink::Kind::Stored && EqualNoCase(target.stored, shown)) {
            contents_->setCurrentItem(*it);
            contents_->scrollToItem(*it);
            return;
        }
    }
}

void ViewerWindow::SetMessage(const QString& text) {
    QString all = baseMessage_;
    if (!text.isEmpty())
        all = all.isEmpty() ? text : all + QLatin1Char('\n') + text;
    message_->setText(all);
    message_->setVisible(!all.isEmpty());
}

void ViewerWindow::ShowCaption() {
    if (!document_)
        return;
    const viewer::ViewerLayout& layout = document_->Layout();
    QString caption = Q(layout.caption);
    if (layout.captionFollowsTopic && view_) {
        QString title = view_->title();
        // WebEngine names a page without a title by its address.
        if (title.isEmpty() || title.startsWith(QLatin1String("tomebox-help:")))
            title = Q(document_->TopicTitle(S(shownTopic_)));
        if (!title.isEmpty())
            caption = title;
    }
    if (caption.isEmpty())
        caption = QFileInfo(path_).fileName();
    setWindowTitle(caption);
}

} // namespace tbx
