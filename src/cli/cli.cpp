#include "cli/cli.h"

#include "app/command_line.h"
#include "cli/commands.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace tbx::cli {
namespace {

constexpr const char* kExitStatuses =
    "\n"
    "Коды завершения: 0 — готово; 1 — не удалось, причина и файл названы в стандартном\n"
    "потоке ошибок; 2 — неверный вызов; 128+N — остановлено сигналом N.\n";

constexpr const char* kGeneralHelp =
    "Использование: tomebox-cli КОМАНДА [ПАРАМЕТРЫ]\n"
    "Собирает справку CHM из web-страниц, извлекает файлы из справки и пишет\n"
    "страницу-оглавление каталога — без окон и без дисплея, для скриптов и сборки.\n"
    "\n"
    "Команды:\n"
    "  build START_PAGE   собрать файл справки из стартовой страницы и её сайта\n"
    "  extract HELP.chm   извлечь файлы справки в каталог\n"
    "  index FOLDER       записать в каталог оглавление index_tbx.html\n"
    "\n"
    "  tomebox-cli КОМАНДА --help   справка по команде\n"
    "  -h, --help                   показать эту справку и выйти\n"
    "  --version                    показать версию и выйти\n";

constexpr const char* kBuildHelp =
    "Использование: tomebox-cli build START_PAGE [-o OUT.chm] [--title TEXT] [--search]\n"
    "                                [--no-settings] [--strict]\n"
    "Собирает файл справки из START_PAGE и страниц, на которые она ссылается в своём\n"
    "каталоге: пишет тот же проект справки, что и окно сборки, и компилирует его\n"
    "программой hhc из каталога программы.\n"
    "\n"
    "  -o, --output OUT.chm  файл справки; по умолчанию START_PAGE с расширением .chm\n"
    "  --title TEXT          заголовок окна справки; по умолчанию текст <title> страницы\n"
    "  --search              полнотекстовый поиск и панель навигации с вкладкой «Поиск»\n"
    "  --no-settings         не читать сохранённые настройки программы: действуют\n"
    "                        настройки первого запуска, так что результат не зависит\n"
    "                        от пользователя; настройки при этом не записываются\n"
    "  --strict              ссылка, по которой не удалось пройти, — ошибка: файл\n"
    "                        справки не создаётся\n"
    "\n"
    "Окно справки автоматического размера рассчитывается на экран 1024×768.\n"
    "Ход компиляции выводится, когда стандартный поток ошибок — терминал; каждая\n"
    "ссылка, по которой не удалось пройти, выводится всегда. На стандартный вывод\n"
    "печатается путь записанного файла справки.\n";

constexpr const char* kExtractHelp =
    "Использование: tomebox-cli extract HELP.chm [DIR] [--overwrite]\n"
    "Извлекает все файлы справки HELP.chm в каталог DIR программой hh из каталога\n"
    "программы, как окно разборки. DIR по умолчанию — имя файла справки без\n"
    "расширения, рядом с ним; недостающие каталоги создаются.\n"
    "\n"
    "  --overwrite   заменять файлы DIR, содержимое которых отличается от извлекаемых;\n"
    "                без него в таком случае ничего не записывается\n"
    "\n"
    "Ход извлечения выводится, когда стандартный поток ошибок — терминал. На\n"
    "стандартный вывод печатается путь каталога.\n";

constexpr const char* kIndexHelp =
    "Использование: tomebox-cli index FOLDER [--style NAME] [--copy-style]\n"
    "Пишет в FOLDER оглавление index_tbx.html со всеми страницами каталога (*.htm,\n"
    "*.html) в том порядке и с теми заголовками, в каких их показывает окно индекса.\n"
    "\n"
    "  --style NAME    подключить таблицу стилей: имя файла из каталога css_dir\n"
    "                  программы или путь к файлу .css\n"
    "  --copy-style    скопировать таблицу стилей в FOLDER и ссылаться на копию\n"
    "\n"
    "На стандартный вывод печатается путь записанного оглавления.\n";

struct OptionSpec {
    std::string_view name; // long name, without "--"
    char shortName;        // 0 when none
    bool takesValue;
};

struct Command {
    std::string_view name;
    std::vector<OptionSpec> options;
    std::size_t minPositional;
    std::size_t maxPositional;
    std::string_view positionalNames; // for "missing" messages
    const char* help;
    int (*run)(const CommandArgs&, Environment&);
};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"build",
         {{"output", 'o', true},
          {"title", 0, true},
          {"search", 0, false},
          {"no-settings", 0, false},
          {"strict", 0, false}},
         1,
         1,
         "START_PAGE",
         kBuildHelp,
         Build},
        {"extract", {{"overwrite", 0, false}}, 1, 2, "HELP.chm", kExtractHelp, Extract},
        {"index",
         {{"style", 0, true}, {"copy-style", 0, false}},
         1,
         1,
         "FOLDER",
         kIndexHelp,
         Index},
    };
    return commands;
}

bool IsHelp(std::string_view arg) {
    return arg == "-h" || arg == "--help";
}

// Options may stand before, between and after the positional arguments;
// "--" ends them. A value follows its option or is joined with "=".
std::optional<std::string> Parse(const Command& command, const std::vector<std::string>& args,
                                 CommandArgs& parsed) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg == "-" || !arg.starts_with('-')) {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string> joined;
        if (name.starts_with("--")) {
            name.remove_prefix(2);
            if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
                joined = std::string(name.substr(equals + 1));
                name = name.substr(0, equals);
            }
        } else if (name.size() == 2) {
            name.remove_prefix(1);
        } else {
            return "неизвестный параметр " + arg;
        }
        const auto known =
            std::find_if(command.options.begin(), command.options.end(), [&](auto& o) {
                return o.name == name || (name.size() == 1 && o.shortName == name[0]);
            });
        if (known == command.options.end())
            return "неизвестный параметр " + arg;
        const std::string key(known->name);
        if (parsed.Has(key))
            return "параметр --" + key + " указан дважды";
        if (!known->takesValue) {
            if (joined)
                return "параметр --" + key + " не принимает значения";
            parsed.options[key];
        } else if (joined) {
            parsed.options[key] = *joined;
        } else if (i + 1 < args.size()) {
            parsed.options[key] = args[++i];
        } else {
            return "после " + arg + " нужно значение";
        }
    }
    if (parsed.positional.size() < command.minPositional)
        return "не указан " + std::string(command.positionalNames);
    if (parsed.positional.size() > command.maxPositional)
        return "лишний аргумент " + parsed.positional[command.maxPositional];
    return std::nullopt;
}

// The window's messages break lines in mid-sentence for their small pane,
// and some end in a colon before a path the pane shows on the next line;
// here the path comes first.
std::string AsSentence(std::string text) {
    for (std::size_t at; (at = text.find(" \n")) != std::string::npos;)
        text.replace(at, 2, " ");
    if (text.ends_with(':'))
        text.back() = '.';
    return text;
}

} // namespace

void StopSwitch::Stop(int signal) {
    std::lock_guard lock(mutex_);
    if (signal_ == 0)
        signal_ = signal;
    if (child_)
        child_->Terminate();
}

int StopSwitch::Signal() const {
    std::lock_guard lock(mutex_);
    return signal_;
}

ProcessOutcome StopSwitch::Run(const std::string& program, const std::vector<std::string>& args,
                               const OutputLineSink& onOutputLine,
                               const OutputLineSink& onErrorLine) {
    ChildProcess child;
    {
        std::lock_guard lock(mutex_);
        if (signal_ == 0 && child.Start(program, args))
            child_ = &child;
    }
    const ProcessOutcome run = child.Wait(onOutputLine, onErrorLine);
    std::lock_guard lock(mutex_);
    child_ = nullptr;
    return run;
}

int Fail(Environment& env, const std::string& subject, const std::string& message) {
    env.err << "tomebox-cli: " << (subject.empty() ? "" : subject + ": ") << AsSentence(message)
            << "\n";
    return kExitFailed;
}

int UsageError(Environment& env, const std::string& command, const std::string& problem) {
    env.err << "tomebox-cli: " << problem << "\n"
            << "Подробнее: tomebox-cli " << (command.empty() ? "" : command + " ") << "--help\n";
    return kExitUsage;
}

int RunCli(const std::vector<std::string>& args, Environment& env) {
    if (args.empty())
        return UsageError(env, "", "не указана команда");
    if (IsHelp(args[0])) {
        env.out << kGeneralHelp << kExitStatuses;
        return kExitDone;
    }
    if (args[0] == "--version") {
        env.out << VersionText(env.programFolder);
        return kExitDone;
    }
    const auto command = std::find_if(Commands().begin(), Commands().end(),
                                      [&](const Command& c) { return c.name == args[0]; });
    if (command == Commands().end())
        return UsageError(env, "", "неизвестная команда " + args[0]);

    const std::vector<std::string> rest(args.begin() + 1, args.end());
    // --help wins over anything else given with it, as in the program's own
    // command line; after "--" it is a file name.
    for (const std::string& arg : rest) {
        if (arg == "--")
            break;
        if (IsHelp(arg)) {
            env.out << command->help << kExitStatuses;
            return kExitDone;
        }
    }
    CommandArgs parsed;
    if (const auto problem = Parse(*command, rest, parsed))
        return UsageError(env, std::string(command->name), *problem);
    const int status = command->run(parsed, env);
    // A run that was stopped ends as the signal says, whatever it got to.
    if (const int signal = env.stop.Signal())
        return 128 + signal;
    return status;
}

} // namespace tbx::cli
