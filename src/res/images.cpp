#include "res/images.h"

#include "res/layouts.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

namespace tbx {
namespace {

// Every small picture is designed on a 100 x 100 square, centred in the
// space it is given.
constexpr qreal kDesign = 100.0;

void FitDesignSquare(QPainter& p, QRectF area) {
    const qreal side = std::min(area.width(), area.height());
    p.translate(area.center().x() - side / 2, area.center().y() - side / 2);
    p.scale(side / kDesign, side / kDesign);
}

QFont PixelFont(qreal pixels, bool bold) {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::max(1, qRound(pixels)));
    font.setBold(bold);
    return font;
}

// A globe: the web page the help is built from.
void DrawGlobe(QPainter& p, QPointF centre, qreal radius) {
    QRadialGradient sea(centre - QPointF(radius * 0.35, radius * 0.35), radius * 1.4);
    sea.setColorAt(0.0, QColor(0xa8, 0xdc, 0xff));
    sea.setColorAt(0.6, QColor(0x2e, 0x86, 0xd6));
    sea.setColorAt(1.0, QColor(0x15, 0x4f, 0x96));
    p.setPen(QPen(QColor(0x0e, 0x3a, 0x70), radius * 0.09));
    p.setBrush(sea);
    p.drawEllipse(centre, radius, radius);

    QPen grid(QColor(255, 255, 255, 200), radius * 0.08);
    p.setPen(grid);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius * 0.42, radius);
    p.drawLine(QPointF(centre.x(), centre.y() - radius), QPointF(centre.x(), centre.y() + radius));
    p.drawLine(QPointF(centre.x() - radius, centre.y()), QPointF(centre.x() + radius, centre.y()));
    const qreal chordY = radius * 0.5;
    const qreal chordHalf = radius * 0.866;
    p.drawLine(QPointF(centre.x() - chordHalf, centre.y() - chordY),
               QPointF(centre.x() + chordHalf, centre.y() - chordY));
    p.drawLine(QPointF(centre.x() - chordHalf, centre.y() + chordY),
               QPointF(centre.x() + chordHalf, centre.y() + chordY));
}

// A closed book with a question mark: the compiled help file.
void DrawHelpBook(QPainter& p, QRectF cover) {
    const qreal w = cover.width();
    const qreal h = cover.height();
    // Page edges showing below and to the right of the cover.
    p.setPen(QPen(QColor(0x8a, 0x8a, 0x80), w * 0.03));
    p.setBrush(QColor(0xfb, 0xf8, 0xee));
    p.drawRoundedRect(cover.translated(w * 0.07, h * 0.05), w * 0.06, w * 0.06);

    QLinearGradient leather(cover.topLeft(), cover.bottomRight());
    leather.setColorAt(0.0, QColor(0xd9, 0x4f, 0x3a));
    leather.setColorAt(1.0, QColor(0x86, 0x20, 0x16));
    p.setPen(QPen(QColor(0x5c, 0x14, 0x0e), w * 0.04));
    p.setBrush(leather);
    p.drawRoundedRect(cover, w * 0.06, w * 0.06);

    // The spine.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4a, 0x0f, 0x0a, 150));
    p.drawRect(QRectF(cover.left() + w * 0.02, cover.top() + w * 0.02, w * 0.16, h - w * 0.04));

    // The mark as an outline rather than text, so that the icon exported as
    // SVG looks the same without the font.
    QPainterPath mark;
    mark.addText(QPointF(0, 0), PixelFont(h * 0.62, true), QStringLiteral("?"));
    const QRectF markBox = mark.boundingRect();
    const QRectF space = cover.adjusted(w * 0.16, 0, 0, 0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xd3, 0x4d));
    p.drawPath(mark.translated(space.center() - markBox.center()));
}

void DrawWebPageImage(QPainter& p, QRectF area) {
    FitDesignSquare(p, area);
    DrawGlobe(p, QPointF(50, 50), 44);
}

void DrawHelpFileImage(QPainter& p, QRectF area) {
    FitDesignSquare(p, area);
    DrawHelpBook(p, QRectF(16, 6, 62, 84));
}

// The program icon: a help book with the globe it is made from.
void DrawIconImage(QPainter& p, QRectF area) {
    FitDesignSquare(p, area);
    DrawHelpBook(p, QRectF(10, 4, 60, 82));
    DrawGlobe(p, QPointF(72, 72), 25);
}

void DrawBanner(QPainter& p, QRectF area) {
    const qreal h = area.height();

    QLinearGradient sky(area.topLeft(), area.topRight());
    sky.setColorAt(0.0, QColor(0x14, 0x2e, 0x58));
    sky.setColorAt(0.55, QColor(0x23, 0x5f, 0xa3));
    sky.setColorAt(1.0, QColor(0x3a, 0x8c, 0xd2));
    p.fillRect(area, sky);

    // Soft rings on the right for a little depth.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        p.setBrush(QColor(255, 255, 255, 14 + 6 * i));
        const qreal r = h * (1.6 - 0.32 * i);
        p.drawEllipse(QPointF(area.right() - h * 0.6, area.top() + h * 0.5), r, r);
    }

    // The icon, then the name and what the program does.
    const qreal iconSide = h * 0.8;
    const QRectF iconArea(area.left() + h * 0.18, area.top() + (h - iconSide) / 2, iconSide,
                          iconSide);
    p.save();
    DrawIconImage(p, iconArea);
    p.restore();

    const qreal textLeft = iconArea.right() + h * 0.22;
    p.setPen(QColor(0, 0, 0, 90));
    p.setFont(PixelFont(h * 0.42, true));
    const QString name = QStringLiteral("Tomebox!");
    p.drawText(QPointF(textLeft + 1.5, area.top() + h * 0.52 + 1.5), name);
    p.setPen(Qt::white);
    p.drawText(QPointF(textLeft, area.top() + h * 0.52), name);

    p.setPen(QColor(0xd6, 0xe8, 0xff));
    p.setFont(PixelFont(h * 0.19, false));
    p.drawText(QPointF(textLeft + h * 0.02, area.top() + h * 0.8),
               QStringLiteral("Web-страницы → справка CHM и обратно"));

    // A light edge above the separator line.
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.drawLine(QPointF(area.left(), area.bottom() - 0.5),
               QPointF(area.right(), area.bottom() - 0.5));
}

} // namespace

void PaintImage(QPainter& p, int imageId, const QRectF& area) {
    p.save();
    switch (imageId) {
    case kImageBanner:
        DrawBanner(p, area);
        break;
    case kImageWebPage:
        DrawWebPageImage(p, area);
        break;
    case kImageHelpFile:
        DrawHelpFileImage(p, area);
        break;
    case kProgramIcon:
        DrawIconImage(p, area);
        break;
    default:
        break;
    }
    p.restore();
}

QPixmap DrawImage(int imageId, QSize size, qreal devicePixelRatio) {
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                     QPainter::SmoothPixmapTransform);
    PaintImage(p, imageId, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int side : kIconSizes)
        icon.addPixmap(DrawImage(kProgramIcon, QSize(side, side)));
    return icon;
}

} // namespace tbx
