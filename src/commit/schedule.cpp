// Replacement scheduling. Every new file first goes beside the file it
// replaces, under that file's name with the last character made "X"; the
// exchange itself happens at the next restart: on NT through delayed file
// operations, on Windows 95 through the [Rename] section of WININIT.INI.
// Deletions are tried at once on both. The version-check file's waiting
// replacement is also the pending-restart marker a second run looks for.
#include "commit/schedule.h"
#include "commit/pending_ops.h"
#include "commit/windows_version.h"
#include "manifest/manifest.h"
#include "manifest/paths.h"

// What this run adds to [Rename], and the section as a whole. Lines are
// handed to the profile call NUL-separated, with an empty line at the end.
// Kept out of the stack: together they exceed a page.
#define RENAME_TEXT_SIZE 4000
static char g_renameText[RENAME_TEXT_SIZE];
static DWORD g_renameLength;
static char g_section[2 * RENAME_TEXT_SIZE];

// Queues one block: for each entry the patch directory's file, which must
// be there, replaces its namesake in `targetDir` (NULL: is deleted).
static int QueueBlock(UINT block, LPCSTR patchDir, LPCSTR targetDir)
{
    char countText[256];
    char name[MAX_PATH];
    char source[MAX_PATH];
    char destination[MAX_PATH];

    if (!LoadManifestString(block, countText, sizeof(countText)))
        return 1;
    LONG count = ParseCount(countText);
    for (LONG i = 1; i <= count; i++) {
        if (!LoadManifestString(block + i, name, sizeof(name)))
            continue;
        if (!JoinPath(source, sizeof(source), patchDir, name) ||
            GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES)
            return 0;
        if (targetDir != NULL) {
            if (!JoinPath(destination, sizeof(destination), targetDir, name) ||
                !PushPendingOp(source, destination, Replace))
                return 0;
        } else if (!PushPendingOp(source, NULL, Delete)) {
            return 0;
        }
    }
    return 1;
}

// The short form of a path, or the path itself where there is none.
static void ShortForm(LPCSTR path, LPSTR out)
{
    DWORD length = GetShortPathNameA(path, out, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        lstrcpynA(out, path, MAX_PATH);
}

// Moves a Replace record's new file beside its destination and makes the
// record's source the short form of where it now lies. The replacement name
// is the destination's with its last character, one byte or two, made "X",
// as the probe makes its marker.
static int StageRecord(PendingFileOp *record)
{
    char replacement[MAX_PATH];
    lstrcpynA(replacement, record->destination, sizeof(replacement));
    int length = lstrlenA(replacement);
    if (length > 0) {
        LPSTR last = CharPrevA(replacement, replacement + length);
        last[0] = 'X';
        last[1] = '\0';
    }
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
    if (g_renameLength + leftLength + 1 + rightLength + 2 > RENAME_TEXT_SIZE)
        return 0;
    lstrcpynA(g_renameText + g_renameLength, left, (int)leftLength + 1);
    g_renameLength += leftLength;
    g_renameText[g_renameLength++] = '=';
    lstrcpynA(g_renameText + g_renameLength, right, (int)rightLength + 1);
    g_renameLength += rightLength + 1;
    g_renameText[g_renameLength] = '\0';
    return 1;
}

// Windows NT: replacements wait for the restart, even where they could be
// done now. Without MOVEFILE_REPLACE_EXISTING the session manager would not
// replace the existing file: the old file would stay and the new one would
// be left under its replacement name.
static void ApplyOnNT(PendingFileOp *record)
{
    if (record->kind == Replace)
        MoveFileExA(record->source, record->destination,
                    MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    else if (!DeleteFileA(record->source))
        MoveFileExA(record->source, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Windows 95: what cannot be done now becomes a [Rename] line, the target
// on the left ("NUL" to delete), both by their short names.
static int ApplyOn95(PendingFileOp *record)
{
    char left[MAX_PATH];
    char right[MAX_PATH];
    if (record->kind == Replace) {
        if (MoveFileA(record->source, record->destination))
            return 1;
        ShortForm(record->destination, left);
    } else {
        if (DeleteFileA(record->source))
            return 1;
        lstrcpynA(left, "NUL", sizeof(left));
    }
    ShortForm(record->source, right);
    return AppendRenameLine(left, right);
}

// Writes this run's lines after those [Rename] already holds: another
// installer may have left lines there for the same restart. If the section
// cannot be read whole it is not rewritten, since that would lose them.
static int WriteRenameSection(void)
{
    char iniPath[MAX_PATH];
    UINT length = GetWindowsDirectoryA(iniPath, sizeof(iniPath));
    if (length == 0 || length >= sizeof(iniPath) || !AppendString(iniPath, sizeof(iniPath), "\\WININIT.INI"))
        return 0;
    DWORD existing = GetPrivateProfileSectionA("Rename", g_section, sizeof(g_section) - RENAME_TEXT_SIZE, iniPath);
    if (existing >= sizeof(g_section) - RENAME_TEXT_SIZE - 2)
        return 0;
    // `existing` counts the earlier lines and their NULs, without the final
    // empty line; this run's lines, with theirs, follow.
    BYTE *to = (BYTE *)g_section + existing;
    for (DWORD i = 0; i <= g_renameLength; i++)
        to[i] = (BYTE)g_renameText[i];
    return WritePrivateProfileSectionA("Rename", g_section, iniPath);
}

// A shared file whose last use goes and which this run installs anew has
// both a deletion and a replacement. The deletion is dropped: carried out
// now it would leave the file missing until the restart, and for good if
// the run ended before the replacement was registered; put off to the
// restart, after the replacement, it would delete the new file.
static void DropSupersededDeletions(void)
{
    for (PendingFileOp *deletion = FirstPendingOp(); deletion != NULL; deletion = deletion->next) {
        if (deletion->kind != Delete)
            continue;
        for (PendingFileOp *other = FirstPendingOp(); other != NULL; other = other->next) {
            if (other->kind == Replace && lstrcmpiA(other->destination, deletion->source) == 0) {
                deletion->source[0] = '\0';
                break;
            }
        }
    }
}

int ScheduleReplacements(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir)
{
    int success = QueueBlock(BLOCK_INSTALL_MOVES, patchDir, installDir) &&
                  QueueBlock(BLOCK_SHARED_MOVES, patchDir, sharedDir) &&
                  QueueBlock(BLOCK_CLEANUP, patchDir, NULL);
    if (FirstPendingOp() == NULL)
        return success;

    g_renameLength = 0;
    g_renameText[0] = '\0';
    for (PendingFileOp *record = FirstPendingOp(); record != NULL && success; record = record->next) {
        if (record->kind == Replace && !StageRecord(record))
            success = 0;
    }
    if (!success)
        return 0;
    DropSupersededDeletions();

    int nt = IsWindowsNT();
    PendingFileOp *record;
    while ((record = PopPendingOp()) != NULL) {
        if (record->source[0] == '\0')
            ;  // a dropped deletion
        else if (nt)
            ApplyOnNT(record);
        else if (!ApplyOn95(record))
            success = 0;  // a line that does not fit: the exchange would not happen
        FreePendingOp(record);
    }
    if (g_renameLength != 0 && !WriteRenameSection())
        success = 0;
    return success;
}
