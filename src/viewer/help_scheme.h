#pragma once
// Serving a help file's pages to Qt WebEngine: a URL scheme handler that
// reads each stored file off the interface thread, and a page that sends
// links out of the file where they belong.

#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineUrlSchemeHandler>
#include <functional>
#include <memory>

namespace tbx::viewer {

class HelpDocument;

// Registers "tomebox-help:", "ms-its:" and "mk:" with WebEngine. Must run
// before the application object is made.
void RegisterHelpSchemes();

class HelpSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    explicit HelpSchemeHandler(std::shared_ptr<const HelpDocument> document, QObject* parent);
    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    std::shared_ptr<const HelpDocument> document_;
};

// Where a link leads when it is followed.
class HelpPage : public QWebEnginePage {
    Q_OBJECT
public:
    // Called for a link the view must not follow itself; returns nothing.
    using LinkHandler = std::function<void(const QUrl&)>;
    HelpPage(QWebEngineProfile* profile, std::shared_ptr<const HelpDocument> document,
             LinkHandler outside, QObject* parent);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    // A link into a new window opens in this one.
    QWebEnginePage* createWindow(WebWindowType type) override;

private:
    std::shared_ptr<const HelpDocument> document_;
    LinkHandler outside_;
};

} // namespace tbx::viewer
