#pragma once
// The program's pictures, drawn in code so that they stay sharp at any
// dialog-unit size and screen scale.

#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QSize>

class QPainter;

namespace tbx {

// Image resource id (kImageBanner, kImageWebPage, kImageHelpFile,
// kProgramIcon) drawn at size (in device-independent pixels) for a screen
// with this pixel ratio. An unknown id gives a transparent picture.
QPixmap DrawImage(int imageId, QSize size, qreal devicePixelRatio = 1.0);

// Paints the image into area on any painter (a pixmap, an SVG file ...).
void PaintImage(QPainter& painter, int imageId, const QRectF& area);

// The sizes the program icon is drawn at for the window and the desktop.
inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Icon 128 at kIconSizes.
QIcon ProgramIcon();

} // namespace tbx
