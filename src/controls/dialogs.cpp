#include "controls/dialogs.h"

#include "controls/path_helpers.h"
#include "res/strings.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <utility>

namespace tbx {
namespace {

QString Caption() {
    return QString::fromUtf8(kCaption);
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

bool QtDialogs::AskYesNo(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Question, Caption(), text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void QtDialogs::ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) {
    QMessageBox box(BoxIcon(icon), Caption(), text, QMessageBox::Ok, owner);
    box.exec();
}

QString QtDialogs::StartIn(const QString& startFolder) const {
    if (!startFolder.isEmpty())
        return startFolder;
    return lastFolder_.isEmpty() ? QDir::homePath() : lastFolder_;
}

QString QtDialogs::PickOpenFile(QWidget* owner, const QString& title,
                                const QList<FileFilter>& filters, const QString& startFolder) {
    QStringList nameFilters;
    for (const FileFilter& filter : filters)
        nameFilters << filter.description + QStringLiteral(" (") + filter.patterns +
                           QStringLiteral(")");
    // The descriptions already say which files they show; the patterns
    // appended for Qt's sake would only repeat it.
    const QString file = QFileDialog::getOpenFileName(owner, title, StartIn(startFolder),
                                                      nameFilters.join(QStringLiteral(";;")),
                                                      nullptr, QFileDialog::HideNameFilterDetails);
    if (!file.isEmpty())
        lastFolder_ = QFileInfo(file).absolutePath();
    return file;
}

QString QtDialogs::PickDirectory(QWidget* owner, const QString& title, const QString& startFolder) {
    const QString folder = QFileDialog::getExistingDirectory(owner, title, StartIn(startFolder),
                                                             QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        lastFolder_ = folder;
    return folder;
}

QString PickFolder(IDialogs& dialogs, QWidget* owner, const QString& title,
                   const QString& startFolder) {
    const QString folder = dialogs.PickDirectory(owner, title, startFolder);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString StartFolderFor(const QString& fieldPath) {
    return QString::fromStdString(PickerStartFolder(fieldPath.toStdString()));
}

void COpenFileHelper::Setup(QWidget* owner, QList<FileFilter> filters, int titleId,
                            const QString& startFolder) {
    owner_ = owner;
    filters_ = std::move(filters);
    titleId_ = titleId;
    startFolder_ = startFolder;
}

int COpenFileHelper::Show() {
    file_.clear();
    fileTitle_.clear();
    const QString title = QString::fromStdString(LoadString(titleId_));
    const QString chosen = dialogs_.PickOpenFile(owner_, title, filters_, startFolder_);
    if (chosen.isEmpty())
        return 0;
    file_ = chosen;
    fileTitle_ = QFileInfo(chosen).fileName();
    return 1;
}

} // namespace tbx
