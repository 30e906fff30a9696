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

constexpr LayoutControl Line(int id, int x, int y, int w, std::uint32_t flags = 0) {
    return {id, K::EtchedLine, {}, x, y, w, 1, 0, 0, flags};
}

constexpr LayoutControl Bitmap(int id, int image, int x, int y, int w, int h, std::uint32_t flags) {
    return {id, K::Bitmap, {}, x, y, w, h, 0, image, flags};
}

// The build window. Made larger, its fields and the log pane take the room;
// the buttons keep to the right edge, the exit row to the bottom.
constexpr std::uint32_t kRight = kFollowX;
constexpr std::uint32_t kBottomRight = kFollowX | kFollowY;
constexpr std::array kBuildControls = {
    Bitmap(-1, kImageBanner, 0, 0, 363, 47, kGrowX),
    Line(-2, 0, 47, 363, kGrowX),
    Bitmap(-3, kImageWebPage, 6, 58, 12, 11),
    Label(-4, "Web-страничка (in):", 22, 58, 70, 8, kIdBuildPageEdit),
    Control(kIdBuildPageEdit, K::Edit, {}, 94, 55, 188, 14, kGrowX),
    Control(kIdBrowseButton, K::DefPushButton, "Обзор ...", 292, 55, 64, 14, kRight),
    Bitmap(-5, kImageHelpFile, 6, 77, 12, 11),
    Label(-6, "Файл справки (out):", 22, 77, 70, 8, kIdBuildOutputEdit),
    Control(kIdBuildOutputEdit, K::Edit, {}, 94, 74, 188, 14, kGrowX),
    Control(kIdOptionsButton, K::PushButton, "Опции ...", 292, 74, 64, 14, kRight),
    Label(-7, "Заголовок справки:", 22, 95, 70, 8, kIdBuildTitleEdit),
    Control(kIdBuildTitleEdit, K::Edit, {}, 94, 93, 188, 14, kGrowX),
    Control(kIdBuildButton, K::PushButton, "Собрать!", 292, 93, 64, 14, kRight),
    Line(-8, 7, 114, 349, kGrowX),
    Control(kIdBuildLog, K::LogPane, {}, 7, 122, 275, 33, kReadOnly | kGrowX | kGrowY),
    Control(kIdDecompileButton, K::PushButton, "Разобрать ...", 292, 122, 64, 14, kRight),
    Control(kIdIndexButton, K::PushButton, "Индекс ...", 292, 141, 64, 14, kRight),
    Line(-9, 7, 162, 349, kGrowX | kFollowY),
    Control(kIdBuildAnimation, K::Animation, {}, 7, 164, 20, 20, kFollowY),
    Control(kIdExitButton, K::PushButton, "Выход", 292, 170, 64, 14, kBottomRight),
};

// The about box.
constexpr std::array kAboutControls = {
    Bitmap(-1, kProgramIcon, 7, 7, 20, 20),
    Control(-2, K::Label, "Tomebox! версия 1.2.1", 40, 7, 214, 8),
    Control(-3, K::Label, "Справочные файлы CHM из web-страниц и обратно.", 40, 22, 214, 8),
    Control(kIdAboutOk, K::DefPushButton, "OK", 204, 74, 50, 16),
    Line(-4, 7, 67, 247),
    Control(-5, K::Label, "E-mail:", 40, 37, 32, 8, kAlignRight),
    Control(kIdAboutMailLink, K::LinkLabel, "tomebox@example.org", 79, 37, 58, 8),
    Control(-6, K::Label, "Web-site:", 40, 52, 32, 8, kAlignRight),
    Control(kIdAboutWebLink, K::LinkLabel, "http://tomebox.example.org/", 79, 52, 62, 8),
};

// The index window. Made larger, the list takes the room; the buttons keep
// to its right, "Индексировать!" and "<< Назад" to the bottom.
constexpr std::array kIndexControls = {
    Control(kIdIndexPages, K::ListView, {}, 7, 7, 275, 177, kGrowX | kGrowY),
    Control(kIdIndexBrowse, K::DefPushButton, "Обзор ...", 292, 7, 64, 13, kRight),
    Control(kIdIndexUp, K::PushButton, "Вверх", 292, 45, 64, 14, kRight),
    Control(kIdIndexDown, K::PushButton, "Вниз", 292, 64, 64, 14, kRight),
    Control(kIdIndexDelete, K::PushButton, "Удалить", 292, 83, 64, 14, kRight),
    Control(kIdIndexEdit, K::PushButton, "Править", 292, 102, 64, 14, kRight),
    Control(kIdIndexRun, K::PushButton, "Индексировать!", 292, 140, 64, 14, kBottomRight),
    Control(kIdIndexBack, K::PushButton, "<< Назад", 292, 170, 64, 14, kBottomRight),
    Line(-1, 292, 162, 64, kBottomRight),
};

// The decompile window. The log pane stays editable: the user may copy
// from it or note something down.
constexpr std::array kDecompileControls = {
    Control(kIdDecBrowseButton, K::DefPushButton, "Обзор ...", 292, 8, 64, 14),
    Control(kIdDecStartButton, K::PushButton, "Разобрать!", 292, 26, 64, 14),
    Control(kIdDecBackButton, K::PushButton, "<< Назад", 292, 105, 64, 14),
    Control(kIdDecFileEdit, K::Edit, {}, 94, 8, 188, 14),
    Control(kIdDecFolderEdit, K::Edit, {}, 94, 26, 188, 14),
    Label(-1, "Каталог (out):", 23, 29, 64, 8, kIdDecFolderEdit),
    Label(-2, "Файл справки (in):", 23, 11, 64, 8, kIdDecFileEdit),
    Bitmap(-3, kImageHelpFile, 8, 10, 12, 11),
    Line(-4, 7, 47, 349),
    Line(-5, 7, 98, 349),
    Control(kIdDecLog, K::LogPane, {}, 23, 55, 259, 35),
};

// The options pages, all of one size so that the sheet fits each of them.
constexpr int kOptPageWidth = 260;
constexpr int kOptPageHeight = 170;

constexpr std::array kCmnOptControls = {
    Control(-1, K::GroupBox, "Позиция окна CHM", 7, 7, 246, 92),
    Control(kIdOptSaveWndPos, K::CheckBox, "Помнить позицию окна CHM", 15, 18, 230, 12),
    Control(kIdOptAutoSize, K::RadioButton, "Автоподбор размеров", 15, 31, 230, 12, kGroup),
    Control(kIdOptCustomSize, K::RadioButton, "Пользовательские размеры:", 15, 44, 230, 12),
    Label(-2, "Левая сторона:", 27, 64, 62, 8, kIdOptLSide),
    Control(kIdOptLSide, K::Edit, {}, 92, 62, 36, 13),
    Label(-3, "Правая сторона:", 27, 81, 62, 8, kIdOptTSide),
    Control(kIdOptTSide, K::Edit, {}, 92, 79, 36, 13),
    Label(-4, "Ширина:", 146, 64, 48, 8, kIdOptWidth),
    Control(kIdOptWidth, K::Edit, {}, 197, 62, 36, 13),
    Label(-5, "Высота:", 146, 81, 48, 8, kIdOptHeight),
    Control(kIdOptHeight, K::Edit, {}, 197, 79, 36, 13),
    Control(-6, K::GroupBox, "Разное", 7, 104, 246, 61),
    Control(kIdOptOpenAfterCompile, K::CheckBox, "Открывать CHM после компиляции", 15, 116, 230,
            12),
    Control(kIdOptChangeChmOutDir, K::CheckBox, "Изменять каталог для выходного CHM файла", 15, 128,
            230, 12),
    Control(kIdOptConsentOnRewrite, K::CheckBox, "Спрашивать разрешение для перезаписи CHM файла",
            15, 140, 230, 12),
    Control(kIdOptQuitAfterCompile, K::CheckBox, "Выход из программы после компиляции", 15, 152,
            230, 12),
};

constexpr std::array kBtnOptControls = {
    Control(-1, K::GroupBox, "Кнопки на панели инструментов", 7, 7, 246, 152),
    Control(kIdOptShowHide, K::CheckBox, "Спрятать (показать)", 15, 21, 112, 12),
    Control(kIdOptOptions, K::CheckBox, "Опции", 133, 21, 112, 12),
    Control(kIdOptBack, K::CheckBox, "Назад", 15, 35, 112, 12),
    Control(kIdOptForward, K::CheckBox, "Вперед", 133, 35, 112, 12),
    Control(kIdOptStop, K::CheckBox, "Остановить", 15, 49, 112, 12),
    Control(kIdOptRefresh, K::CheckBox, "Обновить", 133, 49, 112, 12),
    Control(kIdOptHome, K::CheckBox, "Домой", 15, 63, 112, 12),
    Control(kIdOptPrint, K::CheckBox, "Напечатать", 133, 63, 112, 12),
    Control(kIdOptUserLink, K::CheckBox, "Пользовательская ссылка:", 15, 81, 230, 12),
    Control(kIdOptUserLinkUrl, K::Edit, {}, 27, 94, 218, 13),
    Label(-2, "Заголовок ссылки:", 27, 114, 218, 8, kIdOptUserLinkTitle),
    Control(kIdOptUserLinkTitle, K::Edit, {}, 27, 125, 218, 13),
};

constexpr std::array kNavOptControls = {
    Control(-1, K::GroupBox, "Панель", 7, 7, 246, 54),
    Control(kIdOptNavPanel, K::CheckBox, "Создать окно справки с навигационной панелью", 15, 20,
            230, 12),
    Label(-2, "Ширина навигационной панели:", 15, 40, 124, 8, kIdOptNavWidth),
    Control(kIdOptNavWidth, K::Edit, {}, 142, 38, 40, 13),
    Control(-3, K::GroupBox, "Закладки панели", 7, 67, 246, 46),
    Control(kIdOptNavSearch, K::CheckBox, "Поиск", 15, 80, 112, 12),
    Control(kIdOptNavFavorites, K::CheckBox, "Избранное", 15, 94, 112, 12),
};

constexpr std::array kDecOptControls = {
    Control(-1, K::GroupBox, "Разное", 7, 7, 246, 56),
    Control(kIdOptOpnDecDir, K::CheckBox, "Открывать каталог с HTM файлами после разборки", 15, 20,
            230, 12),
    Control(kIdOptChgDecDir, K::CheckBox, "Изменять каталог для выходных HTML файлов", 15, 34, 230,
            12),
    Control(kIdOptQuitAfterDec, K::CheckBox, "Выход из программы после декомпиляции", 15, 48, 230,
            12),
};

constexpr std::array kIndOptControls = {
    Control(-1, K::GroupBox, "Стиль (CSS)", 7, 7, 246, 86),
    Label(-2, "Путь к каталогу со стилями:", 15, 20, 230, 8, kIdOptCssPath),
    Control(kIdOptCssPath, K::Edit, {}, 15, 31, 160, 13),
    Control(kIdOptBrowseCss, K::PushButton, "Обзор ...", 181, 31, 64, 13),
    Label(-3, "Стиль, применяемый при индексировании:", 15, 52, 230, 8, kIdOptCssStyle),
    Control(kIdOptCssStyle, K::ComboBox, {}, 15, 63, 230, 60),
    Control(-4, K::GroupBox, "Разное", 7, 99, 246, 56),
    Control(kIdOptIndexingFinish, K::CheckBox, "Уведомлять при завершении индексирования", 15, 112,
            230, 12),
    Control(kIdOptSendToCompiler, K::CheckBox, "Передавать индексированный файл на сборку", 15, 126,
            230, 12),
    Control(kIdOptCopyCss, K::CheckBox, "Копировать файл стиля CSS в каталог с индексом", 15, 140,
            230, 12),
};

constexpr std::array kTemplates = {
    DialogTemplate{kBuildTemplate, "Tomebox! 1.2.1 - Сборка", 363, 191, kBuildControls},
    DialogTemplate{kDecompileTemplate, "Tomebox! 1.2.1 - Разборка", 363, 126, kDecompileControls},
    DialogTemplate{kAboutTemplate, "О программе Tomebox!", 261, 97, kAboutControls},
    DialogTemplate{kIndexTemplate, "Tomebox! 1.2.1 - Индекс", 363, 191, kIndexControls},
    DialogTemplate{kCmnOptTemplate, "Общие", kOptPageWidth, kOptPageHeight, kCmnOptControls},
    DialogTemplate{kBtnOptTemplate, "Кнопки", kOptPageWidth, kOptPageHeight, kBtnOptControls},
    DialogTemplate{kNavOptTemplate, "Навигационная панель", kOptPageWidth, kOptPageHeight,
                   kNavOptControls},
    DialogTemplate{kDecOptTemplate, "Разборка", kOptPageWidth, kOptPageHeight, kDecOptControls},
    DialogTemplate{kIndOptTemplate, "Индекс", kOptPageWidth, kOptPageHeight, kIndOptControls},
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
