#include "controls/busy_animation.h"
#include "controls/dialog_builder.h"
#include "controls/dialogs.h"
#include "controls/log_pane.h"
#include "fake_dialogs.h"
#include "res/images.h"
#include "res/layouts.h"
#include "support/temp_dir.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace tbx {
namespace {

using test::ScriptedDialogs;
using test::TempDir;

bool HasOpaquePixel(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0)
                return true;
        }
    }
    return false;
}

TEST(DialogUnitsTest, ConvertEdgesSoThatNeighboursStayTouching) {
    const DialogUnits units{6.79, 12.8};
    EXPECT_EQ(units.ToPixels(4, 8), QSize(7, 13));
    EXPECT_EQ(units.ToPixels(363, 191), QSize(616, 306));
    // Two controls sharing the edge x = 282 units.
    const QRect left = units.ToPixels(7, 122, 275, 33);
    const QRect right = units.ToPixels(282, 122, 10, 14);
    EXPECT_EQ(left.right() + 1, right.left());
    EXPECT_EQ(left.top(), right.top());
}

constexpr LayoutControl kSample[] = {
    {1, ControlKind::GroupBox, "Группа", 5, 5, 100, 50},
    {2, ControlKind::RadioButton, "А", 10, 15, 40, 10, 0, 0, kGroup},
    {3, ControlKind::RadioButton, "Б", 10, 27, 40, 10},
    {4, ControlKind::RadioButton, "В", 10, 39, 40, 10, 0, 0, kGroup},
    {5, ControlKind::CheckBox, "Флаг", 60, 15, 40, 10, 0, 0, kThreeState},
    {-1, ControlKind::Label, "&Имя:", 5, 70, 30, 8, 6},
    {6, ControlKind::Edit, {}, 40, 68, 60, 12, 0, 0, kReadOnly},
    {7, ControlKind::ComboBox, {}, 40, 85, 60, 80},
};
constexpr DialogTemplate kSampleTemplate{999, "Проба", 120, 120, kSample};

TEST(DialogBuilderTest, BuildsGroupsThreeStateBoxesBuddiesAndDropDowns) {
    QWidget dialog;
    BuildDialog(dialog, kSampleTemplate);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Проба"));

    auto* a = FindControl<QRadioButton>(dialog, 2);
    auto* b = FindControl<QRadioButton>(dialog, 3);
    auto* c = FindControl<QRadioButton>(dialog, 4);
    ASSERT_TRUE(a && b && c);
    a->setChecked(true);
    b->setChecked(true);
    c->setChecked(true);
    // A and B exclude each other; C starts a group of its own.
    EXPECT_FALSE(a->isChecked());
    EXPECT_TRUE(b->isChecked());
    EXPECT_TRUE(c->isChecked());

    EXPECT_TRUE(FindControl<QCheckBox>(dialog, 5)->isTristate());

    auto* edit = FindControl<QLineEdit>(dialog, 6);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(FindControl<QLabel>(dialog, -1)->buddy(), edit);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(edit)->text(QAccessible::Name),
              QStringLiteral("Имя:"));

    // The group box lies under the buttons it frames.
    EXPECT_EQ(dialog.childAt(a->geometry().center()), a);

    // A drop-down keeps its own height, not the list's.
    auto* combo = FindControl<QComboBox>(dialog, 7);
    EXPECT_EQ(combo->height(), combo->sizeHint().height());

    EXPECT_EQ(FindControl(dialog, 12345), nullptr);
    EXPECT_EQ(FindControl(dialog, 0), nullptr);
    QWidget stranger(&dialog);
    EXPECT_EQ(ControlId(stranger), 0);
}

TEST(LogPaneTest, EachMessageReplacesTheTextInBoldSmallType) {
    CMyRichEditCtrl pane;
    pane.InitPane();
    EXPECT_EQ(pane.palette().color(QPalette::Base), QColor(255, 255, 225));
    EXPECT_FALSE(pane.accessibleName().isEmpty());

    pane.setHtml(QStringLiteral("<i style='font-size:20pt'>старый</i> текст"));
    pane.SetMessage(QStringLiteral("Первая\r\nвторая"));
    EXPECT_EQ(pane.toPlainText(), QStringLiteral("Первая\nвторая"));
    EXPECT_TRUE(pane.document()->defaultFont().bold());
    EXPECT_DOUBLE_EQ(pane.document()->defaultFont().pointSizeF(), 7.5);
    // Nothing of the old text's look survives.
    for (QTextBlock block = pane.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            EXPECT_FALSE(format.hasProperty(QTextFormat::FontItalic));
            EXPECT_FALSE(format.hasProperty(QTextFormat::FontPointSize));
        }
    }

    pane.SetMessage(QString());
    EXPECT_TRUE(pane.toPlainText().isEmpty());
}

TEST(BusyAnimationTest, DrawsOnlyWhilePlaying) {
    BusyAnimation animation;
    animation.resize(36, 36);
    EXPECT_FALSE(animation.accessibleName().isEmpty());
    EXPECT_FALSE(HasOpaquePixel(animation.grab().toImage()));

    animation.StartBusy();
    EXPECT_TRUE(animation.IsPlaying());
    const QImage first = animation.grab().toImage();
    EXPECT_TRUE(HasOpaquePixel(first));
    QTest::qWait(250);
    EXPECT_NE(animation.grab().toImage(), first) << "the ring does not turn";

    animation.StopBusy();
    EXPECT_FALSE(animation.IsPlaying());
    EXPECT_FALSE(HasOpaquePixel(animation.grab().toImage()));
}

TEST(ImagesTest, EveryPictureIsDrawnAtItsSize) {
    for (int id : {kImageBanner, kImageWebPage, kImageHelpFile, kProgramIcon}) {
        const QPixmap picture = DrawImage(id, QSize(40, 30), 2.0);
        EXPECT_EQ(picture.size(), QSize(80, 60)) << id;
        EXPECT_TRUE(HasOpaquePixel(picture.toImage())) << id;
    }
    EXPECT_FALSE(HasOpaquePixel(DrawImage(4242, QSize(10, 10)).toImage()));
    EXPECT_TRUE(ProgramIcon().availableSizes().contains(QSize(16, 16)));
}

TEST(PickFolderTest, AppendsOneSlashKeepsTheRootAndRefusesWhatIsNoFolder) {
    ScriptedDialogs dialogs;
    TempDir dir;
    const QString folder = QString::fromStdString(dir.Path().string());
    test::WriteFile(dir.Path() / "file.txt", "x");

    dialogs.ExpectDirectory(folder);
    EXPECT_EQ(PickFolder(dialogs, nullptr, QStringLiteral("T")), folder + "/");
    dialogs.ExpectDirectory(QStringLiteral("/"));
    EXPECT_EQ(PickFolder(dialogs, nullptr, QStringLiteral("T")), QStringLiteral("/"));
    dialogs.ExpectDirectory(QString());
    EXPECT_EQ(PickFolder(dialogs, nullptr, QStringLiteral("T")), QString());
    dialogs.ExpectDirectory(folder + "/missing");
    EXPECT_EQ(PickFolder(dialogs, nullptr, QStringLiteral("T")), QString());
    dialogs.ExpectDirectory(folder + "/file.txt");
    EXPECT_EQ(PickFolder(dialogs, nullptr, QStringLiteral("T")), QString());
    EXPECT_EQ(dialogs.Calls()[0].text, QStringLiteral("T"));
}

TEST(OpenFileHelperTest, TitleFromTheStringTableAndTheChoiceOrNothing) {
    ScriptedDialogs dialogs;
    COpenFileHelper helper(dialogs);
    helper.Setup(nullptr, {{QStringLiteral("CHM"), QStringLiteral("*.chm")}}, 116);

    dialogs.ExpectOpenFile(QStringLiteral("/help/site.v2.chm"));
    EXPECT_EQ(helper.Show(), 1);
    EXPECT_EQ(helper.File(), QStringLiteral("/help/site.v2.chm"));
    EXPECT_EQ(helper.FileTitle(), QStringLiteral("site.v2.chm"));
    EXPECT_EQ(dialogs.Calls()[0].text, QStringLiteral("Открываем chm-файл ..."));
    ASSERT_EQ(dialogs.Calls()[0].filters.size(), 1);

    dialogs.ExpectOpenFile(QString());
    EXPECT_EQ(helper.Show(), 0);
    EXPECT_TRUE(helper.File().isEmpty());
    EXPECT_TRUE(helper.FileTitle().isEmpty());

    // A title missing from the table leaves the picker untitled.
    helper.Setup(nullptr, {}, 999);
    dialogs.ExpectOpenFile(QString());
    helper.Show();
    EXPECT_TRUE(dialogs.Calls()[2].text.isEmpty());
}

// Runs act on the next modal window to appear, then lets it go.
void OnNextModal(std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            act(modal);
        }
    });
    poll->start(10);
}

TEST(QtDialogsTest, BoxesAreCaptionedTomeboxWithTheirButtonsAndIcons) {
    QtDialogs dialogs;
    QMessageBox::Icon icon{};
    QString caption;
    QString text;
    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        EXPECT_NE(box->button(QMessageBox::Yes), nullptr);
        box->button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(dialogs.AskYesNo(nullptr, QStringLiteral("Вопрос?")));
    EXPECT_EQ(caption, QStringLiteral("Tomebox!"));
    EXPECT_EQ(text, QStringLiteral("Вопрос?"));
    EXPECT_EQ(icon, QMessageBox::Question);

    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    dialogs.ShowMessage(nullptr, QStringLiteral("Сообщение"), MessageIcon::None);
    EXPECT_EQ(caption, QStringLiteral("Tomebox!"));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
}

TEST(QtDialogsTest, FilePickerShowsTheTitleAndFilterDescriptions) {
    QtDialogs dialogs;
    QString title;
    QStringList filters;
    OnNextModal([&](QWidget* modal) {
        auto* picker = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(picker, nullptr);
        title = picker->windowTitle();
        filters = picker->nameFilters();
        picker->reject();
    });
    const QString chosen = dialogs.PickOpenFile(
        nullptr, QStringLiteral("Открываем web-файл ..."),
        {{QStringLiteral("*.htm и *.html файлы"), QStringLiteral("*.htm *.html")},
         {QStringLiteral("Все файлы (*.*)"), QStringLiteral("*")}},
        {});
    EXPECT_TRUE(chosen.isEmpty());
    EXPECT_EQ(title, QStringLiteral("Открываем web-файл ..."));
    EXPECT_EQ(filters, (QStringList{QStringLiteral("*.htm и *.html файлы (*.htm *.html)"),
                                    QStringLiteral("Все файлы (*.*) (*)")}));
}

} // namespace
} // namespace tbx
