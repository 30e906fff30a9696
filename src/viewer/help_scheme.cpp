#include "viewer/help_scheme.h"

#include "viewer/help_document.h"
#include "viewer/help_link.h"

#include <QBuffer>
#include <QThreadPool>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace tbx::viewer {
namespace {

QByteArray Latin(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

HelpLink LinkOf(const QUrl& url, const HelpDocument& document) {
    const QByteArray encoded = url.toEncoded();
    return ResolveLink(
        std::string_view(encoded.constData(), static_cast<std::size_t>(encoded.size())), "/",
        document.FileName());
}

} // namespace

void RegisterHelpSchemes() {
    for (const std::string_view name : {kHelpScheme, kItsScheme, kMkScheme}) {
        QWebEngineUrlScheme scheme(Latin(name));
        scheme.setSyntax(name == kHelpScheme ? QWebEngineUrlScheme::Syntax::Host
                                             : QWebEngineUrlScheme::Syntax::Path);
        // Local: pages may load each other, their images, styles and
        // scripts, and nothing of the web may load them.
        scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme |
                        QWebEngineUrlScheme::LocalAccessAllowed |
                        QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
        QWebEngineUrlScheme::registerScheme(scheme);
    }
}

HelpSchemeHandler::HelpSchemeHandler(std::shared_ptr<const HelpDocument> document, QObject* parent)
    : QWebEngineUrlSchemeHandler(parent), document_(std::move(document)) {}

void HelpSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const HelpLink link = LinkOf(job->requestUrl(), *document_);
    if (link.kind != HelpLink::Kind::Stored) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    // "ms-its:" and "mk:" addresses become ours, so that relative links on
    // the page resolve in one scheme.
    if (job->requestUrl().scheme() != Latin(kHelpScheme)) {
        job->redirect(QUrl::fromEncoded(Latin(HelpAddress(link.stored, link.fragment))));
        return;
    }
    // Reading may decompress a megabyte or two: off the interface thread.
    // The job may be cancelled meanwhile, so it is held by a guard.
    QPointer<QWebEngineUrlRequestJob> guard(job);
    QPointer<HelpSchemeHandler> self(this);
    std::shared_ptr<const HelpDocument> document = document_;
    const std::string stored = link.stored;
    QThreadPool::globalInstance()->start([guard, self, document, stored] {
        auto served = std::make_shared<ServedFile>(document->Serve(stored));
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(),
            [guard, served] {
                if (!guard)
                    return;
                if (!served->found) {
                    guard->fail(QWebEngineUrlRequestJob::UrlNotFound);
                    return;
                }
                auto* buffer = new QBuffer(guard.data());
                buffer->setData(
                    QByteArray(served->bytes.data(), static_cast<qsizetype>(served->bytes.size())));
                buffer->open(QIODevice::ReadOnly);
                guard->reply(Latin(served->mimeType), buffer);
            },
            Qt::QueuedConnection);
    });
}

HelpPage::HelpPage(QWebEngineProfile* profile, std::shared_ptr<const HelpDocument> document,
                   LinkHandler outside, QObject* parent)
    : QWebEnginePage(profile, parent), document_(std::move(document)),
      outside_(std::move(outside)) {}

bool HelpPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    (void)type;
    (void)isMainFrame;
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("data") || scheme == QLatin1String("about") ||
        scheme == QLatin1String("blob"))
        return true;
    const HelpLink link = LinkOf(url, *document_);
    if (link.kind == HelpLink::Kind::Stored)
        return true;
    outside_(url);
    return false;
}

QWebEnginePage* HelpPage::createWindow(WebWindowType type) {
    (void)type;
    return this;
}

} // namespace tbx::viewer
