#include "stage_stubs.h"

#include "commit/commit.h"
#include "commit/schedule.h"
#include "commit/shared_usage.h"
#include "commit/viewer_dialog.h"
#include "install_check/free_space.h"
#include "install_check/probe.h"
#include "manifest/manifest.h"
#include "patcher/launch.h"
#include "staging/extract.h"
#include "staging/stage_copy.h"

StageScript &Stages() {
    static StageScript script;
    return script;
}

namespace {

int Run(const char *name) {
    StageScript &s = Stages();
    s.order.push_back(name);
    if (s.failing != name) return 1;
    if (!s.leftBehind.empty()) {
        HANDLE file = CreateFileA(s.leftBehind.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return 0;
}

}  // namespace

int ProbeInstallation(LPSTR installDir, int installCapacity, LPSTR sharedDir, int sharedCapacity) {
    StageScript &s = Stages();
    s.order.push_back("probe");
    lstrcpynA(installDir, s.installDir.c_str(), installCapacity);
    lstrcpynA(sharedDir, s.sharedDir.c_str(), sharedCapacity);
    if (s.probeMessage != 0) {
        ShowMessage(nullptr, s.probeMessage, STR_CAPTION, MB_OK);
        return 0;
    }
    return 1;
}

int CheckFreeSpace(LPCSTR path, DWORD requiredBytes) {
    (void)path;
    Stages().requiredBytes = requiredBytes;
    return Run("free space");
}

int ExtractPayloads(LPCSTR patchDir) {
    Stages().patchDirSeen = patchDir;
    return Run("extract");
}

int StageInstalledFiles(LPCSTR installDir, LPCSTR patchDir) {
    (void)installDir;
    (void)patchDir;
    return Run("stage");
}

int RunPatcherFromManifest(UINT programId, UINT parameterId, LPCSTR patchDir) {
    (void)patchDir;
    StageScript &s = Stages();
    s.programId = programId;
    s.parameterId = parameterId;
    char current[MAX_PATH + 1];
    DWORD n = GetCurrentDirectoryA(sizeof current, current);
    s.currentDirAtPatcher = (n > 0 && n < sizeof current) ? current : "";
    return Run("patcher");
}

int UpdateSharedUsage(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir) {
    (void)patchDir;
    (void)installDir;
    (void)sharedDir;
    return Run("shared usage");
}

int ScheduleReplacements(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir) {
    (void)patchDir;
    (void)installDir;
    (void)sharedDir;
    return Run("schedule");
}

// The commit's own failures carry their part's message; the stand-in fails
// as the file part would.
UINT CommitPatch(LPCSTR patchDir, LPCSTR installDir) {
    (void)patchDir;
    (void)installDir;
    return Run("commit") ? 0 : MSG_SCHEDULE_FAILED;
}

int RegisterViewerDialog(void) { return Run("viewer dialog"); }
