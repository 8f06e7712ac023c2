// The patch run, from the probe to the restart question. The driver is the
// only caller of the stages: each returns nonzero for success, and the first
// failure becomes that stage's message. Only the probe speaks for itself.
#include "app/run_patch.h"
#include "app/progress.h"
#include "app/restart.h"
#include "commit/commit.h"
#include "commit/schedule.h"
#include "commit/shared_usage.h"
#include "commit/viewer_dialog.h"
#include "common/paths.h"
#include "install_check/free_space.h"
#include "install_check/probe.h"
#include "manifest/manifest.h"
#include "patcher/launch.h"
#include "staging/extract.h"
#include "staging/stage_copy.h"

#define DIRECTORY_CAPACITY (MAX_PATH + 1)

// Makes the patch directory and enters it. The directory may be left over
// from an earlier failed run, so whether it was created is not asked; only
// entering it counts. A path too long for the buffer fails here too.
static int EnterPatchDirectory(LPCSTR installDir, LPSTR patchDir)
{
    if (!JoinPath(patchDir, DIRECTORY_CAPACITY, installDir, PATCH_DIRECTORY_NAME)) {
        patchDir[0] = '\0';
        return 0;
    }
    CreateDirectoryA(patchDir, NULL);
    return SetCurrentDirectoryA(patchDir);
}

// The stages that run inside the patch directory. Returns 0 after the last
// one succeeded, or the failing stage's message.
static UINT RunStages(LPCSTR installDir, LPCSTR sharedDir, LPCSTR patchDir)
{
    SetStatusText(STATUS_EXTRACTING);
    if (!ExtractPayloads(patchDir))
        return MSG_EXTRACT_FAILED;
    SetStatusText(STATUS_COPYING);
    if (!StageInstalledFiles(installDir, patchDir))
        return MSG_STAGING_FAILED;
    SetStatusText(STATUS_PATCHING);
    if (!RunPatcherFromManifest(STR_PATCHER_PROGRAM, STR_PATCHER_ARGUMENT, patchDir))
        return MSG_PATCH_FAILED;
    SetStatusText(STATUS_REGISTRY);
    if (!UpdateSharedUsage(patchDir, installDir, sharedDir))
        return MSG_REGISTRY_FAILED;
    if (!ScheduleReplacements(patchDir, installDir, sharedDir))
        return MSG_SCHEDULE_FAILED;
    // Up to here nothing outside the patch directory has changed.
    return CommitPatch(patchDir, installDir);
}

int RunPatch(HINSTANCE module, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)previous;
    (void)commandLine;
    (void)show;
    char installDir[DIRECTORY_CAPACITY];
    char sharedDir[DIRECTORY_CAPACITY];
    char patchDir[DIRECTORY_CAPACITY];
    int restart = 0;

    SetPatchModule(module);
    installDir[0] = sharedDir[0] = patchDir[0] = '\0';
    if (!ProbeInstallation(installDir, DIRECTORY_CAPACITY, sharedDir, DIRECTORY_CAPACITY))
        return 0;
    if (ShowMessage(NULL, MSG_CONFIRM, STR_CAPTION, MB_YESNO) != IDYES)
        return 0;

    CreateProgressDialog();
    SetStatusText(STATUS_DISK_SPACE);
    if (!CheckFreeSpace(installDir, REQUIRED_FREE_BYTES)) {
        ShowMessage(GetProgressDialog(), MSG_NO_DISK_SPACE, STR_CAPTION, MB_OK);
    } else {
        UINT failure = MSG_DIRECTORY_FAILED;
        if (EnterPatchDirectory(installDir, patchDir))
            failure = RunStages(installDir, sharedDir, patchDir);
        if (failure != 0) {
            ShowMessage(GetProgressDialog(), failure, STR_CAPTION, MB_OK);
        } else {
            RegisterViewerDialog();
            restart = ShowMessage(GetProgressDialog(), MSG_RESTART_QUESTION, STR_CAPTION, MB_YESNO) == IDYES;
        }
        // Leave the patch directory so that it can go; it goes only if the
        // stages left it empty, and a failed run's files stay for the user.
        SetCurrentDirectoryA(installDir);
        if (patchDir[0] != '\0')
            RemoveDirectoryA(patchDir);
    }
    DestroyProgressDialog();
    if (restart)
        RestartWindows();
    return 0;
}
