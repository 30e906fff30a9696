// Writes the program icon for the desktop's icon theme: a PNG at each size
// the window uses and an SVG, drawn by the same code as the window's icon.
// Run by the build: write_icons OUTPUT_FOLDER ICON_NAME

#include "res/images.h"
#include "res/layouts.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_icons OUTPUT_FOLDER ICON_NAME\n");
        return 2;
    }
    // Drawing needs a GUI application but never a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/hicolor/");
    const QString name = QString::fromLocal8Bit(argv[2]);

    for (int side : tbx::kIconSizes) {
        const QString folder = root + QStringLiteral("%1x%1/apps/").arg(side);
        if (!QDir().mkpath(folder) ||
            !tbx::DrawImage(tbx::kProgramIcon, QSize(side, side)).save(folder + name + ".png")) {
            std::fprintf(stderr, "write_icons: cannot write %s\n", qPrintable(folder + name));
            return 1;
        }
    }

    const QString scalable = root + QStringLiteral("scalable/apps/");
    constexpr int kSvgSide = 256;
    QSvgGenerator svg;
    svg.setFileName(scalable + name + ".svg");
    svg.setSize(QSize(kSvgSide, kSvgSide));
    svg.setViewBox(QRect(0, 0, kSvgSide, kSvgSide));
    svg.setTitle(QStringLiteral("Tomebox!"));
    if (!QDir().mkpath(scalable))
        return 1;
    QPainter painter;
    if (!painter.begin(&svg)) {
        std::fprintf(stderr, "write_icons: cannot write %s\n", qPrintable(svg.fileName()));
        return 1;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    tbx::PaintImage(painter, tbx::kProgramIcon, QRectF(0, 0, kSvgSide, kSvgSide));
    painter.end();
    return 0;
}
