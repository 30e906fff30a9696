#include "compile/compile_job.h"

#include "compile/built_help.h"
#include "controls/path_helpers.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "protocol/tool_output.h"
#include "res/strings.h"
#include "settings/opt_store.h"
#include "text/charset.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace tbx {
namespace {

// How many of the links hhc did not follow the log pane names.
constexpr std::size_t kUnfollowedShown = 5;

// The desktop entry the package installs for Tomebox. It lists the help
// file type, so the desktop may name it as the program that shows help files.
constexpr std::string_view kOwnDesktopEntry = "org.example.tomebox.desktop";

std::string FileNameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// Question 109 before output is replaced, or empty when it may be replaced
// unasked. Without the consent option only another site's help file is
// asked about: one whose start page or title differs from this build's (a
// start page name such as index.htm is shared by many sites).
std::string OverwriteQuestion(const std::string& output, const std::string& page,
                              const std::string& title, bool consent) {
    const std::optional<BuiltHelp> found = ReadBuiltHelp(output);
    if (found && !BuiltFromSamePage(*found, FileNameOf(page), title))
        return LoadString(109) + "\n" +
               FillString(kMsgOtherSiteHelp,
                          {DecodeLegacyText(found->title), DecodeLegacyText(found->defaultTopic)});
    return consent ? LoadString(109) : std::string();
}

// What hhc said beyond its progress: the links it did not follow and its
// summary.
struct CompilerReport {
    std::vector<UnfollowedLink> shown; // the first kUnfollowedShown
    std::size_t unfollowed = 0;
    std::optional<CompileSummary> summary;

    void Add(std::string_view line) {
        if (auto link = ParseUnfollowedLine(line)) {
            if (unfollowed++ < kUnfollowedShown)
                shown.push_back(std::move(*link));
        } else if (auto done = ParseSummaryLine(line)) {
            summary = done;
        }
    }
};

// "812 байт", "11,7 КБ", "11,7 МБ": a Russian reader's sizes.
std::string SizeText(std::uint64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + " байт";
    const char* const units[] = {"КБ", "МБ", "ГБ", "ТБ"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", value);
    std::string text = number;
    if (const std::size_t dot = text.find('.'); dot != std::string::npos)
        text[dot] = ',';
    return text + " " + units[unit];
}

// Message 111 and what the build made: where, how many files and how
// large, and the links that were not followed, so that missing pages are
// never passed over in silence.
std::string BuiltText(const std::string& output, std::uint64_t size, const CompilerReport& report) {
    std::string text = LoadString(111);
    const auto line = [&text](int id, const std::vector<std::string>& values) {
        text += '\n';
        text += FillString(id, values);
    };
    line(kMsgBuiltFile, {output});
    if (report.summary)
        line(kMsgBuiltCounts, {std::to_string(report.summary->files), SizeText(size)});
    if (report.unfollowed == 0)
        return text;
    line(kMsgUnfollowedCount, {std::to_string(report.unfollowed)});
    for (const UnfollowedLink& link : report.shown)
        line(link.page.empty() ? kMsgUnfollowedInProject : kMsgUnfollowedOnPage,
             {link.link, link.page, UnfollowedReasonText(link.why)});
    if (report.unfollowed > report.shown.size())
        line(kMsgUnfollowedMore, {std::to_string(report.unfollowed - report.shown.size())});
    return text;
}

} // namespace

CompileJobs::CompileJobs(IJobHost& host, IShell& shell, RegHive hive, std::string programFolder)
    : JobQueue(host), shell_(shell), hive_(std::move(hive)),
      programFolder_(std::move(programFolder)) {}

CompileJobs::~CompileJobs() {
    Shutdown();
    Join();
}

int CompileJobs::CompileThreadProc() {
    if (!TakeLock(LoadString(113)))
        return 0;
    const std::string output = host_.ReadField(kIdOutputEdit);
    const std::string page = host_.ReadField(kIdPageEdit);
    const std::string title = host_.ReadField(kIdTitleEdit);
    if (!PathExists(output)) {
        // A relative output would land in whatever folder the program runs in.
        AssignFolderPath(m_strOutFolder, output);
        if (!output.starts_with('/') ||
            (!IsFolder(m_strOutFolder) && !CreateDirPath(m_strOutFolder))) {
            host_.ShowMessage(LoadString(114));
            ReleaseLock();
            return 0;
        }
    } else if (IsFolder(output)) {
        host_.ShowMessage(LoadString(115));
        ReleaseLock();
        return 0;
    } else if (const std::string question = OverwriteQuestion(
                   output, page, title, GetOptFlag(hive_, "ConsentOnRewrite", 1, kCmnOptsKey));
               !question.empty() && !host_.AskYesNo(question)) {
        ReleaseLock();
        return 0;
    }

    // A folder is no page either: the compiler could only fail on it.
    if (!PathExists(page) || IsFolder(page)) {
        host_.ShowMessage(LoadString(110));
        ReleaseLock();
        return 0;
    }

    // A window that closed during the checks gets no project written.
    if (Cancelled()) {
        if (StoppedByUser())
            host_.ShowMessage(LoadString(kMsgCompileStopped));
        ReleaseLock();
        return 0;
    }
    host_.StartBusy();
    host_.ShowMessage(LoadString(112));
    // Never beside the page: the site is only read.
    const ProjectFolder folder;
    HelpProjectResult project;
    if (folder.Path().empty()) {
        project.error = folder.Failure();
    } else {
        const HelpProjectInput input{page,           output,         title,
                                     host_.Screen(), programFolder_, folder.Path()};
        project = WriteHelpProject(hive_, input);
    }
    if (!project.Ok()) {
        host_.ShowMessage(project.error);
        ReleaseLock();
        host_.StopBusy();
        return 0;
    }
    RunCompiler(programFolder_ + "hhc", project.projectPath, output);
    return 0;
}

void CompileJobs::RunCompiler(const std::string& compiler, const std::string& project,
                              const std::string& output) {
    const FileStamp before = StampOf(output);
    CompilerReport report;
    const ProcessOutcome run = RunChild(compiler, {project}, LoadString(112),
                                        [&](std::string_view line) { report.Add(line); });
    RemoveFile(project);

    const FileStamp after = StampOf(output);
    std::string failure = ProgramFailure(run, compiler, kMsgCompilerNotStarted, kMsgCompilerFailed);
    if (failure.empty() && (!after.exists || after == before))
        failure = LoadString(kMsgNoHelpFile) + "\n" + output;
    const bool cancelled = Cancelled();
    const bool stopped = StoppedByUser();
    // A compiler the user stopped failed because of the stop; one that
    // finished first still made its help file, and that is what is said.
    if (stopped && !failure.empty())
        failure = LoadString(kMsgCompileStopped);
    const std::string built = failure.empty() ? BuiltText(output, after.size, report) : failure;
    // A window that is closing shows nothing and starts nothing more.
    if (!cancelled || stopped)
        host_.ShowMessage(built);
    ReleaseLock();
    host_.StopBusy();
    if (!failure.empty() || cancelled)
        return;
    if (GetOptFlag(hive_, "OpenAfterCompile", 1, kCmnOptsKey)) {
        // A help file that could not be shown is said, and the program stays
        // so that the message can be read.
        if (const std::string why = ShowHelpFile(output); !why.empty()) {
            host_.ShowMessage(built + "\n" + FillString(kMsgHelpNotShown, {why}));
            return;
        }
    }
    if (GetOptFlag(hive_, "QuitAfterCompile", 1, kCmnOptsKey))
        host_.EndDialog(1);
}

void CompileJobs::ShowHelpFilesWith(HelpViewer viewer) {
    std::lock_guard<std::mutex> hold(viewerLock_);
    viewer_ = std::move(viewer);
}

std::string CompileJobs::ShowHelpFile(const std::string& output) {
    {
        std::lock_guard<std::mutex> hold(viewerLock_);
        if (viewer_) {
            viewer_(output);
            return {};
        }
    }
    // Without a window of its own (tomebox-cli), Tomebox opened by the
    // desktop would hand the file to a copy that may not be running.
    if (shell_.DefaultHandlerFor(output) == kOwnDesktopEntry)
        return LoadString(kMsgReasonViewerIsTomebox);
    const int result = shell_.Open(output);
    if (result > 32)
        return {};
    const bool gone = result == kLaunchFileNotFound || result == kLaunchPathNotFound;
    return LoadString(gone ? kMsgReasonHelpFileGone : kMsgReasonNoViewer);
}

} // namespace tbx
