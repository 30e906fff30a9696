#include "build/compile_job.h"

#include "build/tool_output.h"
#include "controls/path_helpers.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/temp_files.h"
#include "res/strings.h"
#include "settings/opt_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace tbx {
namespace {

// What identifies one version of a file, to tell whether the compiler wrote it.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    off_t size = 0;

    bool operator==(const FileStamp& o) const {
        return exists == o.exists && device == o.device && inode == o.inode &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               size == o.size;
    }
};

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        stamp = {true, st.st_dev, st.st_ino, st.st_mtim, st.st_size};
    return stamp;
}

// A folder of one job's own for its project, inside the program's private
// folder, removed with everything in it when the job ends. Folders that
// killed jobs left there go first.
class ProjectFolder {
public:
    ProjectFolder() {
        const std::string work = PrivateWorkFolder();
        if (work.empty())
            return;
        RemoveStaleTemporaries(work, kPrefix);
        path_ = CreateTempFolder(work, kPrefix);
        if (path_.empty())
            error_ = work + "\n" + std::strerror(errno);
    }
    ~ProjectFolder() {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    ProjectFolder(const ProjectFolder&) = delete;
    ProjectFolder& operator=(const ProjectFolder&) = delete;

    const std::string& Path() const { return path_; }
    // What the log pane says after message 203 when there is no folder.
    const std::string& Error() const { return error_; }

private:
    static constexpr std::string_view kPrefix = "project-";
    std::string path_;
    std::string error_;
};

// How many of the links hhc did not follow the log pane names.
constexpr std::size_t kUnfollowedShown = 5;

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

// The message with %1, %2 ... replaced by the values, in one pass, so that
// a value holding "%2" (a link may) stays as it is.
std::string Fill(std::string_view message, std::initializer_list<std::string> values) {
    std::string text;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const std::size_t n = i + 1 < message.size() ? message[i + 1] - '1' : values.size();
        if (message[i] == '%' && n < values.size()) {
            text += values.begin()[n];
            ++i;
        } else {
            text += message[i];
        }
    }
    return text;
}

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
std::string BuiltText(const std::string& output, std::uint64_t size,
                      const CompilerReport& report) {
    std::string text = LoadString(111) + "\n" + Fill(LoadString(kMsgBuiltFile), {output});
    if (report.summary)
        text += "\n" + Fill(LoadString(kMsgBuiltCounts),
                            {std::to_string(report.summary->files), SizeText(size)});
    if (report.unfollowed == 0)
        return text;
    text += "\n" + Fill(LoadString(kMsgUnfollowedCount), {std::to_string(report.unfollowed)});
    for (const UnfollowedLink& link : report.shown)
        text += "\n" + Fill(LoadString(link.page.empty() ? kMsgUnfollowedInProject
                                                          : kMsgUnfollowedOnPage),
                            {link.link, link.page, UnfollowedReasonText(link.why)});
    if (report.unfollowed > report.shown.size())
        text += "\n" + Fill(LoadString(kMsgUnfollowedMore),
                            {std::to_string(report.unfollowed - report.shown.size())});
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
    } else if (GetOptFlag(hive_, "ConsentOnRewrite", 1, kCmnOptsKey) &&
               !host_.AskYesNo(LoadString(109))) {
        ReleaseLock();
        return 0;
    }

    // A folder is no page either: the compiler could only fail on it.
    const std::string page = host_.ReadField(kIdPageEdit);
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
        project.error = LoadString(kMsgProjectWriteFailed) +
                        (folder.Error().empty() ? "" : "\n" + folder.Error());
    } else {
        const HelpProjectInput input{page,           output,         host_.ReadField(kIdTitleEdit),
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
    // A window that is closing shows nothing and starts nothing more.
    if (!cancelled || stopped)
        host_.ShowMessage(failure.empty() ? BuiltText(output, after.size, report) : failure);
    ReleaseLock();
    host_.StopBusy();
    if (!failure.empty() || cancelled)
        return;
    if (GetOptFlag(hive_, "OpenAfterCompile", 1, kCmnOptsKey))
        shell_.Open(output);
    if (GetOptFlag(hive_, "QuitAfterCompile", 1, kCmnOptsKey))
        host_.EndDialog(1);
}

} // namespace tbx
