#include "res/layouts.h"

#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace tbx {
namespace {

bool TakesFocus(ControlKind kind) {
    return kind == ControlKind::Edit || kind == ControlKind::ComboBox;
}

void CheckTemplate(const DialogTemplate& dialog) {
    std::set<int> ids;
    for (const LayoutControl& control : dialog.controls) {
        SCOPED_TRACE(control.id);
        EXPECT_NE(control.id, 0);
        EXPECT_TRUE(ids.insert(control.id).second) << "id used twice";
        EXPECT_GE(control.x, 0);
        EXPECT_GE(control.y, 0);
        EXPECT_GT(control.width, 0);
        EXPECT_GT(control.height, 0);
        EXPECT_LE(control.x + control.width, dialog.width);
        EXPECT_LE(control.y + control.height, dialog.height);
        if (control.kind == ControlKind::Bitmap) {
            EXPECT_NE(control.image, 0);
        }
    }
    // A label names an edit field or list that exists in the same window.
    for (const LayoutControl& control : dialog.controls) {
        if (control.kind != ControlKind::Label || control.buddy == 0)
            continue;
        const LayoutControl* buddy = FindLayoutControl(dialog, control.buddy);
        ASSERT_NE(buddy, nullptr) << control.text;
        EXPECT_TRUE(TakesFocus(buddy->kind)) << control.text;
    }
}

TEST(LayoutsTest, BuildWindowTemplate) {
    const DialogTemplate* build = FindDialogTemplate(kBuildTemplate);
    ASSERT_NE(build, nullptr);
    EXPECT_EQ(build->caption, "Tomebox! 1.2.1 - Сборка");
    EXPECT_EQ(build->width, 363);
    EXPECT_EQ(build->height, 191);
    EXPECT_EQ(build->controls.size(), 20u);
    CheckTemplate(*build);

    // The controls the program and the compile job refer to.
    for (int id : {kIdBrowseButton, kIdBuildButton, kIdBuildLog, kIdBuildPageEdit,
                   kIdBuildOutputEdit, kIdBuildTitleEdit, kIdOptionsButton, kIdDecompileButton,
                   kIdIndexButton, kIdExitButton, kIdBuildAnimation})
        EXPECT_NE(FindLayoutControl(*build, id), nullptr) << id;
    EXPECT_EQ(FindLayoutControl(*build, kIdBrowseButton)->kind, ControlKind::DefPushButton);
    EXPECT_TRUE(FindLayoutControl(*build, kIdBuildLog)->flags & kReadOnly);
}

TEST(LayoutsTest, IndexWindowTemplate) {
    const DialogTemplate* index = FindDialogTemplate(kIndexTemplate);
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(index->caption, "Tomebox! 1.2.1 - Индекс");
    EXPECT_EQ(index->width, 363);
    EXPECT_EQ(index->height, 191);
    CheckTemplate(*index);
    // Tab order: the list first, then the buttons from top to bottom.
    std::vector<int> order;
    for (const LayoutControl& control : index->controls) {
        if (control.id > 0)
            order.push_back(control.id);
    }
    EXPECT_EQ(order, (std::vector<int>{kIdIndexPages, kIdIndexBrowse, kIdIndexUp, kIdIndexDown,
                                       kIdIndexDelete, kIdIndexEdit, kIdIndexRun, kIdIndexBack}));
    EXPECT_EQ(FindLayoutControl(*index, kIdIndexPages)->kind, ControlKind::ListView);
    EXPECT_EQ(FindLayoutControl(*index, kIdIndexBrowse)->kind, ControlKind::DefPushButton);
}

} // namespace
} // namespace tbx
