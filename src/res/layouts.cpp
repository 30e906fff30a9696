#include "res/layouts.h"

#include <array>

namespace tbx {
namespace {

using K = ControlKind;

constexpr LayoutControl Control(int id, ControlKind kind, std::string_view text, int x, int y,
                                int w, int h, std::uint32_t flags = 0) {
    return {id, kind, text, x, y, w, h, 0, 0, flags};
}

constexpr LayoutControl Label(int id, std::string_view text, int x, int y, int w, int h,
                              int buddy) {
    return {id, K::Label, text, x, y, w, h, buddy, 0, 0};
}

constexpr LayoutControl Bitmap(int id, int image, int x, int y, int w, int h) {
    return {id, K::Bitmap, {}, x, y, w, h, 0, image, 0};
}

constexpr LayoutControl Line(int id, int x, int y, int w) {
    return {id, K::EtchedLine, {}, x, y, w, 1, 0, 0, 0};
}

// The build window.
constexpr std::array kBuildControls = {
    Bitmap(-1, kImageBanner, 0, 0, 363, 47),
    Line(-2, 0, 47, 363),
    Bitmap(-3, kImageWebPage, 6, 58, 12, 11),
    Label(-4, "Web-страничка (in):", 22, 58, 70, 8, kIdBuildPageEdit),
    Control(kIdBuildPageEdit, K::Edit, {}, 94, 55, 188, 14),
    Control(kIdBrowseButton, K::DefPushButton, "Обзор ...", 292, 55, 64, 14),
    Bitmap(-5, kImageHelpFile, 6, 77, 12, 11),
    Label(-6, "Файл справки (out):", 22, 77, 70, 8, kIdBuildOutputEdit),
    Control(kIdBuildOutputEdit, K::Edit, {}, 94, 74, 188, 14),
    Control(kIdOptionsButton, K::PushButton, "Опции ...", 292, 74, 64, 14),
    Label(-7, "Заголовок справки:", 22, 95, 70, 8, kIdBuildTitleEdit),
    Control(kIdBuildTitleEdit, K::Edit, {}, 94, 93, 188, 14),
    Control(kIdBuildButton, K::PushButton, "Собрать!", 292, 93, 64, 14),
    Line(-8, 7, 114, 349),
    Control(kIdBuildLog, K::LogPane, {}, 7, 122, 275, 33, kReadOnly),
    Control(kIdDecompileButton, K::PushButton, "Разобрать ...", 292, 122, 64, 14),
    Control(kIdIndexButton, K::PushButton, "Индекс ...", 292, 141, 64, 14),
    Line(-9, 7, 162, 349),
    Control(kIdBuildAnimation, K::Animation, {}, 7, 164, 20, 20),
    Control(kIdExitButton, K::PushButton, "Выход", 292, 170, 64, 14),
};

constexpr std::array kTemplates = {
    DialogTemplate{kBuildTemplate, "Tomebox! 1.2.1 - Сборка", 363, 191, kBuildControls},
};

} // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    for (const auto& dialog : kTemplates) {
        if (dialog.id == id)
            return &dialog;
    }
    return nullptr;
}

const LayoutControl* FindLayoutControl(const DialogTemplate& dialog, int id) {
    for (const auto& control : dialog.controls) {
        if (control.id == id)
            return &control;
    }
    return nullptr;
}

} // namespace tbx
