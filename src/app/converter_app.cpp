#include "app/converter_app.h"

#include "app/build_dlg.h"
#include "app/command_line.h"
#include "controls/dialogs.h"
#include "platform/instance_lock.h"
#include "res/strings.h"
#include "viewer/viewer_window.h"

#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace tbx {
namespace {

constexpr int kHandOffWaitMs = 3000;
constexpr char kHandOffTaken[] = "ok\n";

std::string SocketPath(const std::string& folder) {
    return folder + "/" + kInstanceSocketName;
}

// A request: "decompile" or "open", a newline, then the file (may be
// empty) ended by a zero byte, which no path holds.
QByteArray Request(const std::string& file, bool decompile) {
    return QByteArray(decompile ? "decompile\n" : "open\n") + QByteArray::fromStdString(file) +
           '\0';
}
constexpr qsizetype kMaxRequest = 64 * 1024;

} // namespace

CConverterApp::CConverterApp(std::vector<std::string> lockFolders, RegHive hive, IDialogs& dialogs,
                             IShell& shell, std::string programFolder)
    : lockFolders_(std::move(lockFolders)), hive_(std::move(hive)), dialogs_(dialogs),
      shell_(shell), programFolder_(std::move(programFolder)) {}

CConverterApp::~CConverterApp() {
    for (const QPointer<ViewerWindow>& viewer : viewers_)
        delete viewer.data();
    delete build_;
}

void CConverterApp::OpenAtStart(std::string file, bool decompile) {
    startFile_ = std::move(file);
    startDecompile_ = decompile;
}

bool CConverterApp::InitInstance() {
    InstanceLock lock(lockFolders_);
    if (!lock.Acquire()) {
        if (HandOff(lock.Folder()))
            return false;
        // A copy that takes no files (still starting, or an older one) is
        // neither raised nor told; this one just ends.
        dialogs_.ShowMessage(nullptr, QString::fromStdString(LoadString(121)), MessageIcon::None);
        return false;
    }
    if (lock.Held())
        Listen(lock.Folder());
    {
        QEventLoop loop;
        connect(this, &CConverterApp::AllClosed, &loop, &QEventLoop::quit);
        // Once the loop runs, so that what opens stands over the windows.
        const QString file = QString::fromStdString(startFile_);
        const bool decompile = startDecompile_;
        QTimer::singleShot(0, this, [this, file, decompile] { Open(file, decompile); });
        loop.exec();
    }
    delete server_;
    server_ = nullptr;
    lock.Release();
    return true;
}

void CConverterApp::Open(const QString& file, bool decompile) {
    if (!decompile && !file.isEmpty() &&
        KindOfStartFile(file.toStdString()) == StartFileKind::HelpFile) {
        OpenViewer(file);
        return;
    }
    CBuildDlg& build = ShowBuildWindow();
    if (decompile)
        build.OpenDecompileWindow(file);
    else if (!file.isEmpty())
        build.OpenFile(file);
}

ViewerWindow* CConverterApp::OpenViewer(const QString& helpFile, const QString& topic) {
    auto* viewer = new ViewerWindow(shell_);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewers_.emplace_back(viewer);
    connect(viewer, &QObject::destroyed, this, [this, viewer] {
        // A widget says it is destroyed before its guards clear: compare.
        std::erase_if(viewers_, [viewer](const QPointer<ViewerWindow>& v) {
            return v.isNull() || v.data() == viewer;
        });
        CheckEnd();
    });
    connect(viewer, &ViewerWindow::HelpFileRequested, this,
            [this](const QString& file, const QString& at) { OpenViewer(file, at); });
    viewer->OpenHelpFile(helpFile, topic);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
    return viewer;
}

CBuildDlg& CConverterApp::ShowBuildWindow() {
    if (!build_) {
        build_ = new CBuildDlg(hive_, dialogs_, shell_, programFolder_);
        build_->SetHelpViewer([this](const QString& helpFile) { OpenViewer(helpFile); });
        connect(build_, &QDialog::finished, this, [this] {
            // Deleted from the loop: the window may still be in its own handler.
            build_->deleteLater();
            build_ = nullptr;
            CheckEnd();
        });
    }
    build_->show();
    build_->raise();
    build_->activateWindow();
    return *build_;
}

void CConverterApp::CheckEnd() {
    if (!build_ && viewers_.empty())
        emit AllClosed();
}

void CConverterApp::Listen(const std::string& folder) {
    const QString path = QString::fromStdString(SocketPath(folder));
    // The lock is ours, so a socket left there is a crashed copy's.
    QLocalServer::removeServer(path);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path))
        return; // later starts then say that a copy runs, as before
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnHandOff(socket); });
        }
    });
}

void CConverterApp::OnHandOff(QLocalSocket* socket) {
    const QByteArray data = socket->peek(kMaxRequest);
    const qsizetype end = data.indexOf('\0');
    const qsizetype first = data.indexOf('\n');
    if (end < 0 || first < 0 || first > end) {
        if (data.size() >= kMaxRequest || end >= 0)
            socket->abort(); // not a request of ours
        return;
    }
    socket->readAll();
    const bool decompile = data.left(first) == "decompile";
    const QString file = QString::fromUtf8(data.mid(first + 1, end - first - 1));
    socket->write(kHandOffTaken);
    socket->flush();
    // Opened from the loop: a modal window it opens must not stall the answer.
    QTimer::singleShot(0, this, [this, file, decompile] { Open(file, decompile); });
}

bool CConverterApp::HandOff(const std::string& folder) const {
    if (folder.empty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(SocketPath(folder)));
    if (!socket.waitForConnected(kHandOffWaitMs))
        return false;
    socket.write(Request(startFile_, startDecompile_));
    if (!socket.waitForBytesWritten(kHandOffWaitMs))
        return false;
    QByteArray answer;
    while (answer.size() < static_cast<qsizetype>(sizeof kHandOffTaken - 1) &&
           socket.waitForReadyRead(kHandOffWaitMs))
        answer += socket.readAll();
    return answer.startsWith(kHandOffTaken);
}

} // namespace tbx
