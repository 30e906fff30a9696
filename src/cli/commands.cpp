#include "cli/commands.h"

#include "app/build_inputs.h"
#include "cli/options_snapshot.h"
#include "compile/help_project.h"
#include "controls/path_helpers.h"
#include "decompile/decompile_job.h"
#include "decompile/extract_conflicts.h"
#include "index/index_page.h"
#include "index/page_list.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "protocol/tool_output.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "text/page_title.h"
#include "text/text_case.h"

#include <filesystem>

namespace tbx::cli {
namespace {

// The build command's own messages, together.
constexpr const char* kEmptyPageName = N_("the start page's name is empty");
constexpr const char* kEmptyOutputName = N_("the help file's name is empty");
constexpr const char* kPageIsFolder = N_("this is a folder, not a start page: name its HTML file");
constexpr const char* kOutputIsPage = N_("the help file would replace the start page");

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
                env_.err << "\r" << ProgressMessage(*progress) << "\033[K" << std::flush;
                progressShown_ = true;
            }
            return;
        }
        ClearProgress();
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        // The tools' lines for programs are put in the user's words.
        if (const auto unfollowed = ParseUnfollowedLine(line))
            env_.err << UnfollowedMessage(*unfollowed) << "\n" << std::flush;
        else if (const auto summary = ParseSummaryLine(line))
            env_.err << SummaryMessage(*summary) << "\n" << std::flush;
        else
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

// The help project writer's failures, in the command line's words.
const char* ProjectFailure(int messageId) {
    switch (messageId) {
    case kMsgPagePathNotFull:
        return Tr("the page's path must be a full one, from the root \"/\"");
    case kMsgPathNotWritable1251:
        return Tr("the path cannot be written into the help project: Windows-1251 lacks some "
                  "of its characters or it holds a line break; rename the file or folder");
    default:
        return Tr("the help project could not be written into the program's temporary folder");
    }
}

// How many files of the folder the extraction would replace, and the first
// of their names.
std::string ConflictText(const ExtractConflicts& conflicts) {
    std::string text = Format(TrN("%zu file of the folder has other content and would be "
                                  "replaced; among them:",
                                  "%zu files of the folder have other content and would be "
                                  "replaced; among them:",
                                  conflicts.count),
                              conflicts.count);
    for (const std::string& name : conflicts.names)
        text += "\n" + name;
    return text + "\n" + Tr("Nothing was written. To replace these files, add --overwrite.");
}

std::string Option(const CommandArgs& args, const std::string& name) {
    const auto it = args.options.find(name);
    return it == args.options.end() ? std::string() : it->second;
}

} // namespace

int Build(const CommandArgs& args, Environment& env) {
    // An empty name would be taken for the current folder.
    if (args.positional[0].empty())
        return UsageError(env, "build", Tr(kEmptyPageName));
    if (args.Has("output") && Option(args, "output").empty())
        return UsageError(env, "build", Tr(kEmptyOutputName));
    // The page first: a mistyped page must not leave an output folder behind.
    const std::string page = AbsolutePath(args.positional[0], env.cwd);
    if (IsFolder(page))
        return Fail(env, page, Tr(kPageIsFolder));
    if (!PathExists(page))
        return Fail(env, page, Tr("the start page does not exist"));
    const std::string output =
        args.Has("output") ? AbsolutePath(Option(args, "output"), env.cwd) : ChmPathFor(page, "");
    // The compiler refuses any file the build reads; this one is caught
    // before a project is written.
    if (output == page)
        return Fail(env, output, Tr(kOutputIsPage));
    if (IsFolder(output))
        return Fail(env, output, Tr("this is a folder: give the help file's name too"));
    if (!PathExists(output)) {
        std::string folder;
        AssignFolderPath(folder, output);
        if (!IsFolder(folder) && !CreateDirPath(folder))
            return Fail(env, folder, Tr("the help file's folder could not be created"));
    }
    const std::string title =
        args.Has("title") ? Option(args, "title") : TitleForPage(page, FileTitle(page));

    OptionsSnapshot options(args.Has("no-settings") ? std::filesystem::path() : env.settingsRoot);
    std::string optionsError = options.Error();
    // Full-text search is written only with the navigation pane that holds its tab.
    if (optionsError.empty() && args.Has("search"))
        optionsError = options.Set(kNavOptsKey, {{"NavPanel", "1"}, {"NavSearch", "1"}});
    if (!optionsError.empty())
        return Fail(env, "", Format(Tr("the settings could not be read: %s"), optionsError));

    const ProjectFolder folder;
    if (folder.Path().empty())
        return Fail(env, folder.Reason(), ProjectFailure(kMsgProjectWriteFailed));
    const HelpProjectResult project = WriteHelpProject(
        options.Hive(), {page, output, title, kScreen, env.programFolder, folder.Path()});
    if (!project.Ok())
        return Fail(env, project.detail, ProjectFailure(project.messageId));

    const std::string compiler = env.programFolder + "hhc";
    std::vector<std::string> compilerArgs;
    if (args.Has("strict"))
        compilerArgs.push_back("--strict");
    compilerArgs.push_back(project.projectPath);
    const FileStamp before = StampOf(output);
    const ProcessOutcome run = RunTool(env, compiler, compilerArgs);
    if (env.stop.Signal())
        return Fail(env, output,
                    Tr("compiling stopped: no help file was made, an earlier one is unchanged"));
    if (!run.started)
        return Fail(env, compiler,
                    Format(Tr("the help compiler could not be started: %s"), run.error));
    if (!run.exited || run.exitCode != 0)
        return Fail(env, output, Tr("the help compiler failed: no help file was made"));
    // What the compiler says is not taken on trust: the file must be new.
    const FileStamp after = StampOf(output);
    if (!after.exists || after == before)
        return Fail(env, output, Tr("the help compiler ended but made no help file"));
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
        return Fail(env, helpFile, Tr("the help file does not exist"));
    std::string folder;
    if (args.positional.size() > 1) {
        folder = AbsolutePath(args.positional[1], env.cwd);
    } else {
        folder = std::filesystem::path(helpFile).replace_extension().string();
        if (folder == helpFile)
            return UsageError(
                env, "extract",
                Format(Tr("the name %s has no extension: give the folder DIR"), helpFile));
    }
    folder = NormaliseOutFolder(folder);
    const std::vector<std::string> created = MissingFolders(folder);
    if (!IsFolder(folder) && !CreateDirPath(folder))
        return Fail(env, folder, Tr("the folder for the extracted files could not be created"));
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
            return Fail(env, folder, ConflictText(conflicts));
    }

    const std::string viewer = env.programFolder + "hh";
    const ProcessOutcome run = RunTool(env, viewer, {"-decompile", folder, helpFile});
    if (env.stop.Signal())
        return fail(folder,
                    Tr("extracting stopped: the files extracted so far stay in the folder"));
    if (!run.started)
        return fail(viewer, Format(Tr("the extractor could not be started: %s"), run.error));
    if (!run.exited || run.exitCode != 0)
        return fail(helpFile, Tr("the extractor failed: not every file was extracted"));
    env.out << folder << "\n";
    return kExitDone;
}

int Index(const CommandArgs& args, Environment& env) {
    const std::string style = Option(args, "style");
    if (args.Has("copy-style") && !args.Has("style"))
        return UsageError(env, "index", Tr("--copy-style without --style: nothing to copy"));
    std::string folder = AbsolutePath(args.positional[0], env.cwd);
    if (!folder.ends_with('/'))
        folder += '/';
    if (!IsFolder(folder))
        return Fail(env, folder, Tr("no such folder"));
    // The rows exactly as the window lists them, left as they are.
    std::vector<IndexRow> rows;
    for (PageEntry& page : ListPages(folder))
        rows.push_back({std::move(page.title), std::move(page.name)});
    if (rows.empty())
        return Fail(env, folder,
                    Tr("the folder holds no web pages (*.htm, *.html) for the contents to list"));

    // The window's options as they are at the first start, with the style
    // sheet the command line names.
    OptionsSnapshot options({});
    std::string optionsError = options.Error();
    if (optionsError.empty() && args.Has("style"))
        optionsError = SetStyleSheet(options, style, args.Has("copy-style"), env.cwd);
    if (!optionsError.empty())
        return Fail(env, "", Format(Tr("the settings could not be read: %s"), optionsError));
    // The window links a sheet without looking; here a mistyped name is an error.
    const StyleSheetChoice css = ChooseStyleSheet(options.Hive(), env.programFolder, folder);
    const std::string cssSource = css.copyFrom.empty() ? css.reference : css.copyFrom;
    std::error_code ec;
    if (args.Has("style") && !EqualNoCase(FileTitle(style), "nocss") &&
        (cssSource.empty() || !std::filesystem::is_regular_file(cssSource, ec)))
        return Fail(env, cssSource.empty() ? style : cssSource, Tr("no such style sheet"));

    CIndexPageFile page;
    const IndexOutcome outcome = WriteIndex(page, options.Hive(), env.programFolder, folder, rows);
    if (outcome.status != IndexStatus::Written)
        return Fail(env, outcome.pagePath.empty() ? folder : outcome.pagePath,
                    Format(Tr("the contents page could not be written, an earlier one is "
                              "unchanged: %s"),
                           outcome.error));
    if (!outcome.cssCopyError.empty())
        return Fail(env, outcome.cssCopyFrom,
                    Format(Tr("the contents page was written, but the style sheet could not be "
                              "copied beside it: %s"),
                           outcome.cssCopyError));
    env.out << outcome.pagePath << "\n";
    return kExitDone;
}

} // namespace tbx::cli
