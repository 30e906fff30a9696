#pragma once
// The program's pictures, drawn in code so that they stay sharp at any
// dialog-unit size and screen scale.

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace tbx {

// Image resource id (kImageBanner, kImageWebPage, kImageHelpFile,
// kProgramIcon) drawn at size (in device-independent pixels) for a screen
// with this pixel ratio. An unknown id gives a transparent picture.
QPixmap DrawImage(int imageId, QSize size, qreal devicePixelRatio = 1.0);

// Icon 128 at the usual sizes.
QIcon ProgramIcon();

} // namespace tbx
