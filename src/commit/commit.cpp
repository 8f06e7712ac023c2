// The commit of a run: plan, journal, apply, commit point.
//
// Nothing installed or shared is deleted or overwritten before the restart:
// new files wait beside their targets under their replacement names, and
// replacements and the deletion of shared files whose last use went are
// operations for the next restart (NT: delayed file operations; Windows 95:
// [Rename] lines of WININIT.INI, "NUL=" to delete). Only the patch
// directory's own files are deleted at once. Every change is journaled
// before it is made; a failure undoes the run from its journal.
//
// The version-check file's replacement is the pending-restart marker that
// makes a later run refuse with "already applied": it is placed last, after
// everything else, and the journal's removal right after it is the commit
// point. A run cut off before that point is undone by the next one.
#include "commit/commit.h"
#include "commit/journal.h"
#include "commit/registry_plan.h"
#include "commit/schedule.h"
#include "common/paths.h"
#include "common/pending_ops.h"
#include "common/windows_version.h"
#include "manifest/manifest.h"

// This run's [Rename] lines, NUL-separated, and the section with them.
// Kept out of the stack: together they exceed a page.
static char g_renameText[RENAME_SECTION_CAPACITY];
static DWORD g_renameLength;
static char g_section[RENAME_SECTION_CAPACITY];

static int InPatchDirectory(LPCSTR path, LPCSTR patchDir)
{
    char head[MAX_PATH];
    int length = lstrlenA(patchDir);
    if (lstrlenA(path) <= length || path[length] != '\\')
        return 0;
    lstrcpynA(head, path, length + 1);
    return lstrcmpiA(head, patchDir) == 0;
}

// Moves a Replace record's new file beside its destination and makes the
// record's source the short form of where it now lies.
static int StageRecord(PendingFileOp *record)
{
    char replacement[MAX_PATH];
    if (!MakeReplacementName(record->destination, replacement))
        return 0;
    // A replacement left by an earlier run makes the move fail; the copy
    // then overwrites it.
    int staged = MoveFileA(record->source, replacement) ||
                 (CopyFileA(record->source, replacement, FALSE) && DeleteFileA(record->source));
    ShortForm(replacement, record->source);
    return staged;
}

static int AppendRenameLine(LPCSTR left, LPCSTR right)
{
    DWORD leftLength = (DWORD)lstrlenA(left);
    DWORD rightLength = (DWORD)lstrlenA(right);
    // The line, its NUL, and room for the final empty line.
    if (g_renameLength + leftLength + 1 + rightLength + 2 > RENAME_SECTION_CAPACITY)
        return 0;
    lstrcpynA(g_renameText + g_renameLength, left, (int)leftLength + 1);
    g_renameLength += leftLength;
    g_renameText[g_renameLength++] = '=';
    lstrcpynA(g_renameText + g_renameLength, right, (int)rightLength + 1);
    g_renameLength += rightLength + 1;
    g_renameText[g_renameLength] = '\0';
    return 1;
}

// NT: one delayed operation, journaled first. Without
// MOVEFILE_REPLACE_EXISTING the session manager would not replace the
// existing file. A refusal (a user who may not register them) fails.
static int DelayOnNT(LPCSTR source, LPCSTR destination)
{
    if (!JournalPath(JOURNAL_DELAYED_OP, source) || !SyncJournal())
        return 0;
    DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT;
    if (destination != NULL)
        flags |= MOVEFILE_REPLACE_EXISTING;
    return MoveFileExA(source, destination, flags) != 0;
}

// Windows NT: replacements and shared files' deletions wait for the
// restart, even where they could be done now.
static int ApplyOnNT(const PendingFileOp *record, LPCSTR patchDir)
{
    if (record->kind == Replace)
        return DelayOnNT(record->source, record->destination);
    if (InPatchDirectory(record->source, patchDir) && DeleteFileA(record->source))
        return 1;
    return DelayOnNT(record->source, NULL);
}

// Windows 95: what is not done now becomes a [Rename] line, the target on
// the left ("NUL" to delete), both by their short names: WININIT runs
// before long names are known. A new file whose target does not exist yet
// moves into place now (the journal has it as a file this run creates).
static int ApplyOn95(const PendingFileOp *record, LPCSTR patchDir)
{
    char left[MAX_PATH];
    char right[MAX_PATH];
    if (record->kind == Replace) {
        if (MoveFileA(record->source, record->destination))
            return 1;
        ShortForm(record->destination, left);
    } else {
        if (InPatchDirectory(record->source, patchDir) && DeleteFileA(record->source))
            return 1;
        lstrcpynA(left, "NUL", sizeof(left));
    }
    ShortForm(record->source, right);
    return AppendRenameLine(left, right);
}

static int ApplyRecord(const PendingFileOp *record, LPCSTR patchDir, int nt)
{
    return nt ? ApplyOnNT(record, patchDir) : ApplyOn95(record, patchDir);
}

// NT: the patch directory goes at the restart, after the files in it that
// had to wait; it is empty by then unless something else was left in it.
// Windows 95 has no such operation (its WININIT deletes files only, and so
// does Wine's): there the driver removes the directory at the end of the
// run, or the next run does.
static int RemovePatchDirectoryAtRestart(LPCSTR patchDir, int nt)
{
    return !nt || DelayOnNT(patchDir, NULL);
}

// Writes this run's lines after those [Rename] already holds: another
// installer may have left lines there for the same restart. The lines are
// journaled first, so that an undo can take out exactly these.
static int WriteRenameSection(void)
{
    char iniPath[MAX_PATH];
    if (g_renameLength == 0)
        return 1;
    for (LPCSTR line = g_renameText; *line != '\0'; line += lstrlenA(line) + 1) {
        if (!JournalPath(JOURNAL_RENAME_LINE, line))
            return 0;
    }
    if (!SyncJournal())
        return 0;
    if (!GetWininitPath(iniPath))
        return 0;
    // Room for the earlier lines, with this run's and the final NUL after.
    if (g_renameLength + 4 > sizeof(g_section))
        return 0;
    DWORD room = sizeof(g_section) - g_renameLength - 1;
    DWORD existing = GetPrivateProfileSectionA("Rename", g_section, room, iniPath);
    if (existing + 2 >= room)
        return 0;
    // `existing` counts the earlier lines and their NULs, without the final
    // empty line; this run's lines, with theirs, follow.
    for (DWORD i = 0; i <= g_renameLength; i++)
        g_section[existing + i] = g_renameText[i];
    return WritePrivateProfileSectionA("Rename", g_section, iniPath);
}

// Before the first change: the registry as it was, every file the run will
// create, all on disk.
static int JournalPlan(int nt)
{
    char replacement[MAX_PATH];
    if (!JournalRegistryOriginals(JournalLine))
        return 0;
    for (PendingFileOp *record = FirstPendingOp(); record != NULL; record = record->next) {
        if (record->kind != Replace || record->source[0] == '\0')
            continue;
        if (!MakeReplacementName(record->destination, replacement) || !JournalPath(JOURNAL_FILE, replacement))
            return 0;
        if (!nt && GetFileAttributesA(record->destination) == INVALID_FILE_ATTRIBUTES &&
            !JournalPath(JOURNAL_FILE, record->destination))
            return 0;
    }
    return SyncJournal();
}

static void FreePendingOps(void)
{
    PendingFileOp *record;
    while ((record = PopPendingOp()) != NULL)
        FreePendingOp(record);
}

UINT CommitPatch(LPCSTR patchDir, LPCSTR installDir)
{
    char versionFile[SHORT_STRING_CAPACITY];
    char versionPath[MAX_PATH];
    PendingFileOp *marker = NULL;
    UINT failure = MSG_SCHEDULE_FAILED;

    if (FirstPendingOp() == NULL && RegistryPlanIsEmpty())
        return 0;
    versionPath[0] = '\0';
    if (LoadManifestString(STR_VERSION_FILE, versionFile, sizeof(versionFile)))
        JoinPath(versionPath, sizeof(versionPath), installDir, versionFile);
    int nt = IsWindowsNT();
    g_renameLength = 0;
    g_renameText[0] = '\0';

    int ok = OpenJournal(patchDir) && JournalPlan(nt);
    if (ok && !ApplyRegistryPlan()) {
        ok = 0;
        failure = MSG_REGISTRY_FAILED;
    }
    // Every new file but the marker beside its target; then what the
    // restart is to do, in the list's order.
    for (PendingFileOp *record = FirstPendingOp(); ok && record != NULL; record = record->next) {
        if (record->kind != Replace || record->source[0] == '\0')
            continue;
        if (lstrcmpiA(record->destination, versionPath) == 0)
            marker = record;
        else
            ok = StageRecord(record);
    }
    for (PendingFileOp *record = FirstPendingOp(); ok && record != NULL; record = record->next) {
        if (record != marker && record->source[0] != '\0')
            ok = ApplyRecord(record, patchDir, nt);
    }
    if (ok)
        ok = RemovePatchDirectoryAtRestart(patchDir, nt);
    if (ok && marker != NULL)
        ok = StageRecord(marker) && ApplyRecord(marker, patchDir, nt);
    if (ok && !nt)
        ok = WriteRenameSection();
    if (ok)
        ok = RemoveJournal(patchDir);
    if (!ok) {
        // What cannot be undone now stays journaled for the next run.
        CloseJournal();
        RollBackJournal(patchDir);
    }
    FreePendingOps();
    ResetRegistryPlan();
    return ok ? 0 : failure;
}

int RecoverInterruptedRun(LPCSTR installDir)
{
    char patchDir[MAX_PATH];
    if (!JoinPath(patchDir, sizeof(patchDir), installDir, PATCH_DIRECTORY_NAME))
        return 1;  // no patch directory, so no journal, can be there
    if (!RollBackJournal(patchDir))
        return 0;
    // A run cut off after its commit point but before it removed its empty
    // patch directory leaves that behind; only an empty one goes.
    RemoveDirectoryA(patchDir);
    return 1;
}

void ForgetCommitState(void)
{
    CloseJournal();
    FreePendingOps();
    ResetRegistryPlan();
}
