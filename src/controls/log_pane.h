#pragma once
// The log pane of the build and decompile windows: one message at a time,
// bold and small on light yellow.

#include <QTextEdit>

namespace tbx {

class CMyRichEditCtrl : public QTextEdit {
    Q_OBJECT
public:
    explicit CMyRichEditCtrl(QWidget* parent = nullptr);

    // Gives the pane its look; the owning window calls it once while it
    // initialises.
    void InitPane();

    // Replaces the whole text; "\r\n" counts as one line break.
    void SetMessage(const QString& text);
};

} // namespace tbx
