#pragma once
// Turns a window layout (res/layouts.h) into Qt widgets at the positions its
// dialog units give for the dialog font.

#include "res/layouts.h"

#include <QFont>
#include <QRect>
#include <QWidget>

namespace tbx {

// The font every window is laid out with: the desktop's default sans-serif
// face (DejaVu Sans on Debian) at 9 points.
QFont DialogFont();

// Pixels per dialog unit: a quarter of the font's average character width
// across, an eighth of its line height down.
struct DialogUnits {
    qreal x = 0;
    qreal y = 0;

    static DialogUnits ForFont(const QFont& font);
    // Each edge is converted on its own, so neighbouring controls that share
    // an edge in units share it in pixels too.
    QRect ToPixels(int x, int y, int width, int height) const;
    QSize ToPixels(int width, int height) const;
};

// Gives dialog the template's caption, font and fixed size and creates its
// controls in the template's order, which is also their tab order. Labels
// become the buddies of the controls they name, so those take the label's
// text as their accessible name.
void BuildDialog(QWidget& dialog, const DialogTemplate& layout);

// Lets dialog be made larger than its template, never smaller.
void MakeResizable(QWidget& dialog);

// Places the controls for the dialog's present size as their layout flags
// (kGrowX ... in res/layouts.h) say; a resizable window calls it from its
// resize event. Pictures are drawn anew for a new size.
void FitControls(QWidget& dialog);

// The control created for id, or nullptr.
QWidget* FindControl(const QWidget& dialog, int id);

template <typename T> T* FindControl(const QWidget& dialog, int id) {
    return qobject_cast<T*>(FindControl(dialog, id));
}

// The id a control was created with, or 0 for a widget the builder did not make.
int ControlId(const QWidget& control);

} // namespace tbx
