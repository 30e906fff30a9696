#include "controls/dialog_builder.h"

#include "controls/busy_animation.h"
#include "controls/link_label.h"
#include "controls/log_pane.h"
#include "res/images.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace tbx {
namespace {

constexpr char kIdProperty[] = "tbxControlId";
// What FitControls needs of each control and the window: the control's place
// at the template size, its layout flags and its image; the template size.
constexpr char kPlaceProperty[] = "tbxTemplatePlace";
constexpr char kFlagsProperty[] = "tbxLayoutFlags";
constexpr char kImageProperty[] = "tbxImage";
constexpr char kTemplateSizeProperty[] = "tbxTemplateSize";

// Dialog units follow the font, so its size sets the scale of every window;
// 9 points is the usual text size of a Linux desktop.
constexpr qreal kDialogPoints = 9.0;

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// units * base / divisor, rounded: base is the average character width
// (divisor 4) or the line height (divisor 8).
int Scale(int units, qreal base, int divisor) {
    return static_cast<int>(std::lround(units * base / divisor));
}

// Builds one control; radioGroup carries the open group of radio buttons.
QWidget* CreateControl(QWidget& dialog, const LayoutControl& item, const DialogUnits& units,
                       QButtonGroup*& radioGroup) {
    const QString text = Utf8(item.text);
    QRect rect = units.ToPixels(item.x, item.y, item.width, item.height);
    QWidget* control = nullptr;

    if (item.kind != ControlKind::RadioButton)
        radioGroup = nullptr;

    switch (item.kind) {
    case ControlKind::Label: {
        auto* label = new QLabel(text, &dialog);
        // Static text sits at the top of its box, as the layouts were drawn.
        label->setAlignment((item.flags & kAlignRight ? Qt::AlignRight : Qt::AlignLeft) |
                            Qt::AlignTop);
        control = label;
        break;
    }
    case ControlKind::LinkLabel:
        control = new CLinkLabel(text, &dialog);
        break;
    case ControlKind::ListView: {
        // Rows stand in the order the window puts them; a header click never sorts.
        auto* list = new QTreeWidget(&dialog);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setAllColumnsShowFocus(true);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setSortingEnabled(false);
        list->header()->setSectionsClickable(false);
        control = list;
        break;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(&dialog);
        edit->setReadOnly(item.flags & kReadOnly);
        control = edit;
        break;
    }
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(text, &dialog);
        button->setDefault(item.kind == ControlKind::DefPushButton);
        control = button;
        break;
    }
    case ControlKind::CheckBox: {
        auto* box = new QCheckBox(text, &dialog);
        box->setTristate(item.flags & kThreeState);
        control = box;
        break;
    }
    case ControlKind::RadioButton: {
        auto* radio = new QRadioButton(text, &dialog);
        if (!radioGroup || (item.flags & kGroup))
            radioGroup = new QButtonGroup(&dialog);
        radioGroup->addButton(radio);
        control = radio;
        break;
    }
    case ControlKind::GroupBox: {
        auto* box = new QGroupBox(text, &dialog);
        // A frame drawn behind the controls it surrounds, not their parent.
        box->setFocusPolicy(Qt::NoFocus);
        control = box;
        break;
    }
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(&dialog);
        // The layout's height includes the dropped-down list; the box keeps its own.
        rect.setHeight(combo->sizeHint().height());
        control = combo;
        break;
    }
    case ControlKind::Bitmap: {
        auto* picture = new QLabel(&dialog);
        picture->setPixmap(DrawImage(item.image, rect.size(), dialog.devicePixelRatioF()));
        control = picture;
        break;
    }
    case ControlKind::EtchedLine: {
        auto* line = new QFrame(&dialog);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        // An etched line is two pixels high whatever its box.
        rect.setHeight(2);
        control = line;
        break;
    }
    case ControlKind::LogPane: {
        auto* pane = new CMyRichEditCtrl(&dialog);
        if (item.flags & kReadOnly) {
            pane->setReadOnly(true);
            // Still reachable by keyboard, so a screen reader can read it out.
            pane->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        }
        control = pane;
        break;
    }
    case ControlKind::Animation:
        control = new BusyAnimation(&dialog);
        break;
    }

    control->setGeometry(rect);
    control->setProperty(kIdProperty, item.id);
    control->setProperty(kPlaceProperty, rect);
    control->setProperty(kFlagsProperty, item.flags);
    if (item.kind == ControlKind::Bitmap)
        control->setProperty(kImageProperty, item.image);
    control->setObjectName(QStringLiteral("control%1").arg(item.id));
    if (item.kind == ControlKind::GroupBox)
        control->lower();
    return control;
}

} // namespace

QFont DialogFont() {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kDialogPoints);
    return font;
}

DialogUnits DialogUnits::ForFont(const QFont& font) {
    const QFontMetricsF metrics(font);
    static const QString alphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return {metrics.horizontalAdvance(alphabet) / alphabet.size(), metrics.height()};
}

QRect DialogUnits::ToPixels(int left, int top, int width, int height) const {
    const int l = Scale(left, x, 4);
    const int t = Scale(top, y, 8);
    const int r = Scale(left + width, x, 4);
    const int b = Scale(top + height, y, 8);
    return QRect(l, t, r - l, b - t);
}

QSize DialogUnits::ToPixels(int width, int height) const {
    return {Scale(width, x, 4), Scale(height, y, 8)};
}

void BuildDialog(QWidget& dialog, const DialogTemplate& layout) {
    dialog.setWindowTitle(Utf8(layout.caption));
    dialog.setFont(DialogFont());
    const DialogUnits units = DialogUnits::ForFont(dialog.font());
    const QSize size = units.ToPixels(layout.width, layout.height);
    dialog.setFixedSize(size);
    dialog.setProperty(kTemplateSizeProperty, size);

    QButtonGroup* radioGroup = nullptr;
    std::vector<std::pair<QLabel*, int>> buddies;
    QWidget* previousStop = nullptr;
    for (const LayoutControl& item : layout.controls) {
        QWidget* control = CreateControl(dialog, item, units, radioGroup);
        if (item.kind == ControlKind::Label && item.buddy != 0)
            buddies.emplace_back(static_cast<QLabel*>(control), item.buddy);
        if (control->focusPolicy() & Qt::TabFocus) {
            if (previousStop)
                QWidget::setTabOrder(previousStop, control);
            previousStop = control;
        }
    }
    for (const auto& [label, buddyId] : buddies) {
        if (QWidget* buddy = FindControl(dialog, buddyId))
            label->setBuddy(buddy);
    }
}

void MakeResizable(QWidget& dialog) {
    dialog.setMinimumSize(dialog.property(kTemplateSizeProperty).toSize());
    dialog.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

void FitControls(QWidget& dialog) {
    const QSize templateSize = dialog.property(kTemplateSizeProperty).toSize();
    const int grownX = std::max(0, dialog.width() - templateSize.width());
    const int grownY = std::max(0, dialog.height() - templateSize.height());
    const auto children = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* control : children) {
        const QVariant place = control->property(kPlaceProperty);
        if (!place.isValid())
            continue;
        const std::uint32_t flags = control->property(kFlagsProperty).toUInt();
        QRect rect = place.toRect();
        rect.adjust(0, 0, flags & kGrowX ? grownX : 0, flags & kGrowY ? grownY : 0);
        rect.translate(flags & kFollowX ? grownX : 0, flags & kFollowY ? grownY : 0);
        if (rect == control->geometry())
            continue;
        const bool resized = rect.size() != control->size();
        control->setGeometry(rect);
        // A picture is drawn for its size, not stretched.
        const QVariant image = control->property(kImageProperty);
        if (resized && image.isValid())
            static_cast<QLabel*>(control)->setPixmap(
                DrawImage(image.toInt(), rect.size(), dialog.devicePixelRatioF()));
    }
}

QWidget* FindControl(const QWidget& dialog, int id) {
    if (id == 0)
        return nullptr;
    const auto children = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (ControlId(*child) == id)
            return child;
    }
    return nullptr;
}

int ControlId(const QWidget& control) {
    const QVariant id = control.property(kIdProperty);
    return id.isValid() ? id.toInt() : 0;
}

} // namespace tbx
