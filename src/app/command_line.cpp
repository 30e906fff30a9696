#include "app/command_line.h"

#include "controls/path_helpers.h"
#include "platform/files.h"
#include "text/text_case.h"

namespace tbx {
namespace {

CommandLine JustAction(CommandLine::Action action) {
    CommandLine line;
    line.action = action;
    return line;
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args, const std::string& cwd) {
    CommandLine line;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && (arg == "-h" || arg == "--help"))
            return JustAction(CommandLine::Action::Help);
        if (!optionsEnded && arg == "--version")
            return JustAction(CommandLine::Action::Version);
        if (line.action == CommandLine::Action::Error)
            continue; // a later --help still wins
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--decompile") {
            line.decompile = true;
        } else if (!optionsEnded && arg.size() > 1 && arg.starts_with('-')) {
            line.action = CommandLine::Action::Error;
            line.error = "Неизвестный параметр: " + arg;
        } else if (!line.file.empty()) {
            line.action = CommandLine::Action::Error;
            line.error = "Можно указать только один файл, а указан ещё и " + arg;
        } else if (arg.empty()) {
            line.action = CommandLine::Action::Error;
            line.error = "Указано пустое имя файла";
        } else {
            line.file = AbsolutePath(arg, cwd);
        }
    }
    return line;
}

std::string CommandLineHelp() {
    return "Использование: tomebox [--decompile] [ФАЙЛ]\n"
           "Собирает справку CHM из web-страниц и извлекает файлы из справки обратно.\n"
           "\n"
           "  ФАЙЛ          web-страничка: окно сборки, заполненное как после «Обзор ...»;\n"
           "                файл .chm: окно разборки с этим файлом;\n"
           "                каталог: окно индекса со списком его страниц.\n"
           "  --decompile   открыть окно разборки (с файлом справки ФАЙЛ, если он указан).\n"
           "  -h, --help    показать эту справку и выйти.\n"
           "  --version     показать версию и выйти.\n"
           "\n"
           "Одновременно работает только одна копия программы.\n";
}

std::string VersionText(const std::string& programFolder) {
    return "Tomebox! " TOMEBOX_VERSION "\n"
           "Компилятор hhc, программа извлечения hh и таблицы стилей css_dir: " +
           programFolder + "\n";
}

StartFileKind KindOfStartFile(const std::string& path) {
    if (IsFolder(path))
        return StartFileKind::Folder;
    if (!PathExists(path))
        return StartFileKind::Missing;
    return EndsWithNoCase(path, ".chm") ? StartFileKind::HelpFile : StartFileKind::Page;
}

} // namespace tbx
