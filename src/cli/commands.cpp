#include "cli/commands.h"

#include "app/build_inputs.h"
#include "build/help_project.h"
#include "build/tool_output.h"
#include "cli/options_snapshot.h"
#include "controls/path_helpers.h"
#include "decompile/decompile_job.h"
#include "decompile/extract_conflicts.h"
#include "index/index_page.h"
#include "index/page_list.h"
#include "platform/files.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "text/page_title.h"
#include "text/text_case.h"

#include <filesystem>

namespace tbx::cli {
namespace {

// The build command's own messages, together.
constexpr std::string_view kEmptyPageName = "имя стартовой страницы пусто";
constexpr std::string_view kEmptyOutputName = "имя файла справки пусто";
constexpr std::string_view kPageIsFolder =
    "это каталог, а не стартовая страница: укажите её HTML-файл";
constexpr std::string_view kOutputIsPage = "файл справки заменил бы стартовую страницу";

// No display to measure: a help window of automatic size is made for the
// smallest screen still in common use, so it fits every reader's screen.
constexpr ScreenSize kScreen{1024, 768};

// A tool's output on standard error: its progress as one line that changes
// in place, on a terminal only; everything else (links not followed,
// damaged entries, summaries) line by line as it comes.
class ToolOutput {
public:
    explicit ToolOutput(Environment& env) : env_(env) {}
    ~ToolOutput() { ClearProgress(); }
    ToolOutput(const ToolOutput&) = delete;
    ToolOutput& operator=(const ToolOutput&) = delete;

    void Line(std::string_view line) {
        if (const auto progress = ParseProgressLine(line)) {
            if (env_.errIsTerminal) {
                env_.err << "\r" << ProgressText(*progress) << "\033[K" << std::flush;
                progressShown_ = true;
            }
            return;
        }
        ClearProgress();
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        env_.err << line << "\n" << std::flush;
    }

private:
    void ClearProgress() {
        if (progressShown_)
            env_.err << "\r\033[K" << std::flush;
        progressShown_ = false;
    }

    Environment& env_;
    bool progressShown_ = false;
};

ProcessOutcome RunTool(Environment& env, const std::string& program,
                       const std::vector<std::string>& args) {
    ToolOutput output(env);
    const auto sink = [&](std::string_view line) { output.Line(line); };
    return env.stop.Run(program, args, sink, sink);
}

// Puts the style sheet named on the command line into the index options: a
// bare name is a sheet of css_dir beside the program, as the options sheet
// offers them; a name with a "/" is a path. Empty, or why not.
std::string SetStyleSheet(OptionsSnapshot& options, const std::string& style, bool copy,
                          const std::string& cwd) {
    std::string cssFolder = "Default", cssName = style;
    if (style.find('/') != std::string::npos) {
        const std::string sheet = AbsolutePath(style, cwd);
        const std::size_t slash = sheet.rfind('/');
        cssFolder = sheet.substr(0, slash + 1);
        cssName = sheet.substr(slash + 1);
    }
    return options.Set(
        kIndOptsKey,
        {{"CSSPath", cssFolder}, {"CSSStyle", cssName}, {"CopyCSS", copy ? "1" : "0"}});
}

std::string Option(const CommandArgs& args, const std::string& name) {
    const auto it = args.options.find(name);
    return it == args.options.end() ? std::string() : it->second;
}

} // namespace

int Build(const CommandArgs& args, Environment& env) {
    // An empty name would be taken for the current folder.
    if (args.positional[0].empty())
        return UsageError(env, "build", std::string(kEmptyPageName));
    if (args.Has("output") && Option(args, "output").empty())
        return UsageError(env, "build", std::string(kEmptyOutputName));
    // The page first: a mistyped page must not leave an output folder behind.
    const std::string page = AbsolutePath(args.positional[0], env.cwd);
    if (IsFolder(page))
        return Fail(env, page, std::string(kPageIsFolder));
    if (!PathExists(page))
        return Fail(env, page, LoadString(110));
    const std::string output =
        args.Has("output") ? AbsolutePath(Option(args, "output"), env.cwd) : ChmPathFor(page, "");
    // The compiler refuses any file the build reads; this one is caught
    // before a project is written.
    if (output == page)
        return Fail(env, output, std::string(kOutputIsPage));
    if (IsFolder(output))
        return Fail(env, output, LoadString(115));
    if (!PathExists(output)) {
        std::string folder;
        AssignFolderPath(folder, output);
        if (!IsFolder(folder) && !CreateDirPath(folder))
            return Fail(env, folder, LoadString(114));
    }
    const std::string title =
        args.Has("title") ? Option(args, "title") : TitleForPage(page, FileTitle(page));

    OptionsSnapshot options(args.Has("no-settings") ? std::filesystem::path() : env.settingsRoot);
    std::string optionsError = options.Error();
    // Full-text search is written only with the navigation pane that holds its tab.
    if (optionsError.empty() && args.Has("search"))
        optionsError = options.Set(kNavOptsKey, {{"NavPanel", "1"}, {"NavSearch", "1"}});
    if (!optionsError.empty())
        return Fail(env, "", "настройки не прочитаны: " + optionsError);

    const ProjectFolder folder;
    if (folder.Path().empty())
        return Fail(env, "", folder.Failure());
    const HelpProjectResult project = WriteHelpProject(
        options.Hive(), {page, output, title, kScreen, env.programFolder, folder.Path()});
    if (!project.Ok())
        return Fail(env, "", project.error);

    const std::string compiler = env.programFolder + "hhc";
    std::vector<std::string> compilerArgs;
    if (args.Has("strict"))
        compilerArgs.push_back("--strict");
    compilerArgs.push_back(project.projectPath);
    const FileStamp before = StampOf(output);
    const ProcessOutcome run = RunTool(env, compiler, compilerArgs);
    if (env.stop.Signal())
        return Fail(env, output, LoadString(kMsgCompileStopped));
    if (!run.started)
        return Fail(env, compiler, LoadString(kMsgCompilerNotStarted) + " " + run.error);
    if (!run.exited || run.exitCode != 0)
        return Fail(env, output, LoadString(kMsgCompilerFailed));
    // What the compiler says is not taken on trust: the file must be new.
    const FileStamp after = StampOf(output);
    if (!after.exists || after == before)
        return Fail(env, output, LoadString(kMsgNoHelpFile));
    env.out << output << "\n";
    return kExitDone;
}

namespace {

// The folders that creating folder makes, deepest first.
std::vector<std::string> MissingFolders(std::string folder) {
    std::vector<std::string> missing;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    while (folder.size() > 1 && !PathExists(folder)) {
        missing.push_back(folder);
        folder = std::filesystem::path(folder).parent_path().string();
    }
    return missing;
}

} // namespace

int Extract(const CommandArgs& args, Environment& env) {
    // The help file first, so a mistyped name creates no folder.
    const std::string helpFile = AbsolutePath(args.positional[0], env.cwd);
    if (!PathExists(helpFile) || IsFolder(helpFile))
        return Fail(env, helpFile, LoadString(117));
    std::string folder;
    if (args.positional.size() > 1) {
        folder = AbsolutePath(args.positional[1], env.cwd);
    } else {
        folder = std::filesystem::path(helpFile).replace_extension().string();
        if (folder == helpFile)
            return UsageError(env, "extract",
                              "у имени " + helpFile + " нет расширения: укажите каталог DIR");
    }
    folder = NormaliseOutFolder(folder);
    const std::vector<std::string> created = MissingFolders(folder);
    if (!IsFolder(folder) && !CreateDirPath(folder))
        return Fail(env, folder, LoadString(118));
    // A failed extraction takes back the folders it made, if still empty.
    const auto fail = [&](const std::string& what, const std::string& why) {
        for (const std::string& made : created) {
            std::error_code ignored;
            std::filesystem::remove(made, ignored);
        }
        return Fail(env, what, why);
    };
    if (!args.Has("overwrite")) {
        const ExtractConflicts conflicts = FindExtractConflicts(helpFile, folder);
        if (conflicts.count > 0)
            return Fail(
                env, folder,
                ConflictReport(conflicts) +
                    "\nНичего не записано. Чтобы заменить эти файлы, добавьте --overwrite.");
    }

    const std::string viewer = env.programFolder + "hh";
    const ProcessOutcome run = RunTool(env, viewer, {"-decompile", folder, helpFile});
    if (env.stop.Signal())
        return fail(folder, LoadString(kMsgDecompileStopped));
    if (!run.started)
        return fail(viewer, LoadString(kMsgViewerNotStarted) + " " + run.error);
    if (!run.exited || run.exitCode != 0)
        return fail(helpFile, LoadString(kMsgViewerFailed));
    env.out << folder << "\n";
    return kExitDone;
}

int Index(const CommandArgs& args, Environment& env) {
    const std::string style = Option(args, "style");
    if (args.Has("copy-style") && !args.Has("style"))
        return UsageError(env, "index", "--copy-style без --style: нечего копировать");
    std::string folder = AbsolutePath(args.positional[0], env.cwd);
    if (!folder.ends_with('/'))
        folder += '/';
    if (!IsFolder(folder))
        return Fail(env, folder, "каталог не найден");
    // The rows exactly as the window lists them, left as they are.
    std::vector<IndexRow> rows;
    for (PageEntry& page : ListPages(folder))
        rows.push_back({std::move(page.title), std::move(page.name)});
    if (rows.empty())
        return Fail(env, folder,
                    "в каталоге нет web-страниц (*.htm, *.html), оглавлению нечего перечислять");

    // The window's options as they are at the first start, with the style
    // sheet the command line names.
    OptionsSnapshot options({});
    std::string optionsError = options.Error();
    if (optionsError.empty() && args.Has("style"))
        optionsError = SetStyleSheet(options, style, args.Has("copy-style"), env.cwd);
    if (!optionsError.empty())
        return Fail(env, "", "настройки не прочитаны: " + optionsError);
    // The window links a sheet without looking; here a mistyped name is an error.
    const StyleSheetChoice css = ChooseStyleSheet(options.Hive(), env.programFolder, folder);
    const std::string cssSource = css.copyFrom.empty() ? css.reference : css.copyFrom;
    std::error_code ec;
    if (args.Has("style") && !EqualNoCase(FileTitle(style), "nocss") &&
        (cssSource.empty() || !std::filesystem::is_regular_file(cssSource, ec)))
        return Fail(env, cssSource.empty() ? style : cssSource, "таблица стилей не найдена");

    CIndexPageFile page;
    const IndexOutcome outcome = WriteIndex(page, options.Hive(), env.programFolder, folder, rows);
    if (outcome.status != IndexStatus::Written)
        return Fail(env, outcome.pagePath.empty() ? folder : outcome.pagePath,
                    LoadString(kMsgIndexWriteFailed) + " " + outcome.error);
    if (!outcome.cssCopyError.empty())
        return Fail(env, outcome.cssCopyFrom,
                    LoadString(kMsgIndexCssCopyFailed) + " " + outcome.cssCopyError);
    env.out << outcome.pagePath << "\n";
    return kExitDone;
}

} // namespace tbx::cli
