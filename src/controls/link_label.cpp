#include "controls/link_label.h"

#include "controls/dialogs.h"
#include "controls/link_target.h"
#include "platform/shell.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QPointer>
#include <thread>

namespace tbx {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QString& text) {
    return text.toStdString();
}

} // namespace

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    hoverTimer_.setInterval(kHoverCheckMs);
    connect(&hoverTimer_, &QTimer::timeout, this, &CLinkLabel::OnHoverTimer);
    setMouseTracking(true);
    // Reachable from the keyboard like a button: Enter or Space opens it.
    setFocusPolicy(Qt::StrongFocus);
    setTextFormat(Qt::PlainText);
}

void CLinkLabel::Attach(IShell& shell, IDialogs& dialogs) {
    shell_ = &shell;
    dialogs_ = &dialogs;
    if (target_.isEmpty())
        target_ = Q(LinkTargetFromText(S(text())));
    if (text().isEmpty())
        setText(target_);
    standardFont_ = font();
    underlinedFont_ = standardFont_;
    underlinedFont_.setUnderline(true);
    attached_ = true;
    FitToText();
    LoadHandCursor();
    setToolTip(BuildTipText(target_));
    setAccessibleDescription(toolTip());
    UpdateLook();
}

void CLinkLabel::SetTarget(const QString& target) {
    target_ = target;
    if (!attached_)
        return;
    FitToText();
    setToolTip(BuildTipText(target_));
    setAccessibleDescription(toolTip());
}

void CLinkLabel::MarkVisited(bool visited) {
    visited_ = visited;
    UpdateLook();
}

void CLinkLabel::ChangeUnderlineMode(int mode) {
    if (mode == underlineMode_)
        return;
    underlineMode_ = mode;
    if (attached_)
        setFont(mode == 1 ? underlinedFont_ : standardFont_);
}

void CLinkLabel::ReplaceCursor(std::optional<QCursor> cursor) {
    if (cursor)
        setCursor(*cursor);
    else
        LoadHandCursor();
}

void CLinkLabel::LoadHandCursor() {
    setCursor(Qt::PointingHandCursor);
}

void CLinkLabel::FitToText() {
    if (!fitToText_ || !attached_)
        return;
    const QFontMetrics metrics(underlinedFont_);
    const QMargins margins = contentsMargins();
    const int width =
        metrics.horizontalAdvance(text()) + margins.left() + margins.right() + 2 * margin();
    const int height = metrics.height() + margins.top() + margins.bottom() + 2 * margin();
    QRect box = geometry();
    if (alignment() & Qt::AlignVCenter)
        box.adjust(0, (box.height() - height) / 2, 0, -(box.height() - height) / 2);
    else
        box.setHeight(height);
    if (alignment() & Qt::AlignHCenter) {
        const int shrink = (box.width() - width) / 2;
        box.adjust(shrink, 0, -shrink, 0);
    } else if (alignment() & Qt::AlignRight) {
        box.setLeft(box.right() + 1 - width);
    } else {
        box.setWidth(width);
    }
    setGeometry(box);
}

QString CLinkLabel::BuildTipText(const QString& target) const {
    return Q(tbx::BuildTipText(S(target), tipPrefix_));
}

int CLinkLabel::OpenTarget(const QString& target) {
    return shell_ ? tbx::OpenTarget(*shell_, S(target)) : kLaunchNoAssociation;
}

void CLinkLabel::ShowLaunchError(int code) {
    if (dialogs_)
        dialogs_->ShowMessage(window(), Q(LaunchErrorText(code)), MessageIcon::Warning);
}

QColor CLinkLabel::TextColour() const {
    if (hovering_)
        return kHoverColour;
    return visited_ ? kVisitedColour : kLinkColour;
}

void CLinkLabel::OnClicked() {
    EndHover();
    if (!shell_) {
        OnOpenFinished(kLaunchNoAssociation);
        return;
    }
    // The opener's verdict can take long (xdg-open may wait for the program
    // it starts), so it is awaited on a thread of its own. The result comes
    // back to this thread, and only to a label that still exists.
    std::thread([shell = shell_, target = S(target_), label = QPointer<CLinkLabel>(this)] {
        const int result = tbx::OpenTarget(*shell, target);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [label, result] {
                if (label)
                    label->OnOpenFinished(result);
            },
            Qt::QueuedConnection);
    }).detach();
}

void CLinkLabel::OnOpenFinished(int result) {
    const bool opened = result > 32;
    MarkVisited(opened);
    if (!opened) {
        QApplication::beep();
        ShowLaunchError(result);
    }
}

void CLinkLabel::mouseMoveEvent(QMouseEvent* event) {
    StartHover();
    QLabel::mouseMoveEvent(event);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        OnClicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void CLinkLabel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Space) {
        OnClicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

// Focus shows like hovering does, so keyboard users see which link is next.
void CLinkLabel::focusInEvent(QFocusEvent* event) {
    if (underlineMode_ == -1 && attached_)
        setFont(underlinedFont_);
    QLabel::focusInEvent(event);
}

void CLinkLabel::focusOutEvent(QFocusEvent* event) {
    if (underlineMode_ != 1 && attached_ && !hovering_)
        setFont(standardFont_);
    QLabel::focusOutEvent(event);
}

void CLinkLabel::StartHover() {
    if (hovering_)
        return;
    hovering_ = true;
    if (underlineMode_ == -1 && attached_)
        setFont(underlinedFont_);
    UpdateLook();
    hoverTimer_.start();
}

// The pointer may leave without a move event reaching the label, so a timer
// looks where it is.
void CLinkLabel::OnHoverTimer() {
    if (!rect().contains(mapFromGlobal(QCursor::pos())))
        EndHover();
}

void CLinkLabel::EndHover() {
    hoverTimer_.stop();
    if (!hovering_)
        return;
    hovering_ = false;
    if (underlineMode_ != 1 && attached_ && !hasFocus())
        setFont(standardFont_);
    UpdateLook();
}

void CLinkLabel::UpdateLook() {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, TextColour());
    setPalette(colours);
}

} // namespace tbx
