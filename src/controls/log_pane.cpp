#include "controls/log_pane.h"

#include <QPalette>

namespace tbx {

CMyRichEditCtrl::CMyRichEditCtrl(QWidget* parent) : QTextEdit(parent) {
    // The pane has no label beside it, so it names itself for screen readers.
    setAccessibleName(QStringLiteral("Сообщения программы"));
    setAcceptRichText(false);
    // Long paths and lines wrap rather than run out of sight sideways.
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

void CMyRichEditCtrl::InitPane() {
    QPalette colours = palette();
    const QColor background(255, 255, 225);
    colours.setColor(QPalette::Base, background);
    colours.setColor(QPalette::Window, background);
    // Dark text whatever the desktop's colour scheme, to stay readable on yellow.
    colours.setColor(QPalette::Text, Qt::black);
    setPalette(colours);

    QFont paneFont = font();
    paneFont.setBold(true);
    paneFont.setPointSizeF(7.5);
    document()->setDefaultFont(paneFont);
}

void CMyRichEditCtrl::SetMessage(const QString& text) {
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setPlainText(plain);
}

} // namespace tbx
