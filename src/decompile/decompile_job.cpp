#include "decompile/decompile_job.h"

#include "controls/path_helpers.h"
#include "decompile/extract_conflicts.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "res/strings.h"
#include "settings/opt_store.h"

namespace tbx {

std::atomic<int> DecompileQuitFlag{0};

std::string NormaliseOutFolder(const std::string& folder) {
    if (folder.empty() || folder.back() == '/')
        return folder;
    return folder + "/";
}

DecompileJobs::DecompileJobs(IJobHost& host, IShell& shell, RegHive hive, std::string programFolder)
    : JobQueue(host), shell_(shell), hive_(std::move(hive)),
      programFolder_(std::move(programFolder)) {}

DecompileJobs::~DecompileJobs() {
    Shutdown();
    Join();
}

int DecompileJobs::RunDecompileJob() {
    if (!TakeLock(LoadString(123)))
        return 0;
    m_strOutFolder = NormaliseOutFolder(host_.ReadField(kIdDecOutputEdit));
    // A relative folder would land wherever the program happens to run from.
    if (!m_strOutFolder.starts_with('/') ||
        (!IsFolder(m_strOutFolder) && !CreateDirPath(m_strOutFolder))) {
        host_.ShowMessage(LoadString(118));
        ReleaseLock();
        return 0;
    }
    // A folder is no help file, and a relative name depends on where the
    // program was started.
    const std::string helpFile = host_.ReadField(kIdDecInputEdit);
    if (!helpFile.starts_with('/') || !PathExists(helpFile) || IsFolder(helpFile)) {
        host_.ShowMessage(LoadString(117));
        ReleaseLock();
        return 0;
    }
    // The help file's own folder is, after a build, the site itself: its
    // edited pages must not be replaced without the user's word.
    const ExtractConflicts conflicts = FindExtractConflicts(helpFile, m_strOutFolder);
    if (conflicts.count > 0 &&
        !host_.AskYesNo(ConflictReport(conflicts) + "\n" + LoadString(kMsgReplaceQuestion))) {
        host_.ShowMessage(LoadString(kMsgNothingExtracted));
        ReleaseLock();
        return 0;
    }
    // The post actions run after the lock is released, when the next job
    // may already have set its own folder.
    const std::string outFolder = m_strOutFolder;
    if (!RunViewer(outFolder, helpFile) || Cancelled())
        return 0;
    AfterSuccess(outFolder);
    return 0;
}

bool DecompileJobs::RunViewer(const std::string& outFolder, const std::string& helpFile) {
    if (Cancelled()) {
        ReleaseLock();
        return false;
    }
    host_.ShowMessage(LoadString(120));
    const std::string viewer = programFolder_ + "hh";
    const ProcessOutcome run =
        RunChild(viewer, {"-decompile", outFolder, helpFile}, LoadString(120));
    std::string failure = ProgramFailure(run, viewer, kMsgViewerNotStarted, kMsgViewerFailed);
    // hh stops between whole files, so what it extracted before the stop is usable.
    const bool stopped = StoppedByUser();
    if (stopped && !failure.empty())
        failure = LoadString(kMsgDecompileStopped) + "\n" + outFolder;
    // A window that is closing shows nothing more.
    if (!Cancelled() || stopped)
        host_.ShowMessage(failure.empty() ? LoadString(119) : failure);
    ReleaseLock();
    return failure.empty();
}

void DecompileJobs::AfterSuccess(const std::string& outFolder) {
    COptKey key;
    if (key.Open(hive_, kDecOptsKey) != kErrorSuccess)
        return;
    const COptReg reg;
    // Launch results above 32 mean success. A folder that did not open is
    // said, and the program stays so that the message can be read.
    if (reg.ReadFlag(key, "OpnDecDir") && shell_.Open(outFolder) <= 32) {
        host_.ShowMessage(LoadString(kMsgFolderNotOpened) + "\n" + outFolder);
        return;
    }
    if (reg.ReadFlag(key, "QuitAfterDec")) {
        key.Close();
        DecompileQuitFlag = 1;
        host_.EndDialog(1);
    }
}

} // namespace tbx
