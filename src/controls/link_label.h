#pragma once
// A static text that acts as a hyperlink: link colours, a pointing hand, an
// underline while hovered, a tooltip saying where it leads, and a click that
// opens the target with the desktop's opener (falling back to the browser).

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QTimer>
#include <optional>

namespace tbx {

class IDialogs;
class IShell;

class CLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit CLinkLabel(const QString& text, QWidget* parent = nullptr);

    // Makes the label a working link: the services it opens targets and shows
    // errors with, its target (its text unless one was set), fonts, size,
    // cursor and tooltip. The shell is used from worker threads and must
    // outlive any opening a click started, even one that outlives the label.
    void Attach(IShell& shell, IDialogs& dialogs);

    // Before Attach only stores the target.
    void SetTarget(const QString& target);
    void MarkVisited(bool visited);
    // 1: always underlined; 0: never; -1: only while hovered.
    void ChangeUnderlineMode(int mode);
    // nullopt: the pointing hand.
    void ReplaceCursor(std::optional<QCursor> cursor);
    void LoadHandCursor();
    // Resizes the label to its text as drawn underlined, keeping the edge
    // its alignment holds.
    void FitToText();
    QString BuildTipText(const QString& target) const;
    // A launch result: above 32 is success. Waits for the opener's verdict;
    // a click runs the same opening on a worker thread instead.
    int OpenTarget(const QString& target);
    void ShowLaunchError(int code);

    QString Target() const { return target_; }
    bool Hovering() const { return hovering_; }
    bool Visited() const { return visited_; }
    // The colour the text is drawn in now.
    QColor TextColour() const;

    static constexpr QColor kLinkColour{0, 0, 238};
    static constexpr QColor kVisitedColour{85, 26, 139};
    static constexpr QColor kHoverColour{255, 0, 0};
    // How often a hovered label looks whether the pointer has left it.
    static constexpr int kHoverCheckMs = 100;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Starts opening the target without blocking; OnOpenFinished follows.
    void OnClicked();
    // Visited on success; otherwise a beep and the launch error.
    void OnOpenFinished(int result);
    void OnHoverTimer();
    void StartHover();
    void EndHover();
    void UpdateLook();

    IShell* shell_ = nullptr;
    IDialogs* dialogs_ = nullptr;
    bool attached_ = false;
    bool hovering_ = false;
    bool visited_ = false;
    int underlineMode_ = -1;
    bool fitToText_ = true;
    bool tipPrefix_ = true;
    QString target_;
    QFont standardFont_;
    QFont underlinedFont_;
    QTimer hoverTimer_;
};

} // namespace tbx
