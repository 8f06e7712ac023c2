// Replacement scheduling, the planning half. Every new file is to go beside
// the file it replaces, under that file's name with the last character made
// "X"; the exchange itself happens at the next restart: on NT through delayed
// file operations, on Windows 95 through the [Rename] section of WININIT.INI.
// Here the manifest's final operations are queued and everything the commit
// will need is checked before anything changes: every source is there, every
// drive that receives a file copied across drives has room for it, and the
// place that will hold the restart's operations can take them.
#include "commit/schedule.h"
#include "commit/journal.h"
#include "common/bytes.h"
#include "common/paths.h"
#include "common/pending_ops.h"
#include "common/registry_keys.h"
#include "common/windows_version.h"
#include "install_check/free_space.h"
#include "manifest/manifest.h"

struct QueueDirs {
    LPCSTR patchDir;
    LPCSTR targetDir;  // NULL: the block's files are deleted
};

// One entry: the patch directory's file, which must be there, replaces its
// namesake in the target directory, or is deleted.
static int QueueEntry(LPCSTR name, LONG number, const void *context)
{
    const QueueDirs *dirs = (const QueueDirs *)context;
    char source[MAX_PATH];
    char destination[MAX_PATH];
    (void)number;
    if (!JoinPath(source, sizeof(source), dirs->patchDir, name) ||
        GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES)
        return 0;
    if (dirs->targetDir == NULL)
        return PushPendingOp(source, NULL, Delete);
    return JoinPath(destination, sizeof(destination), dirs->targetDir, name) &&
           PushPendingOp(source, destination, Replace);
}

// Queues one block (NULL `targetDir`: its files are deleted). A block
// without its count string is an empty one.
static int QueueBlock(UINT block, LPCSTR patchDir, LPCSTR targetDir)
{
    QueueDirs dirs = {patchDir, targetDir};
    return ForEachBlockEntry(block, BLOCK_OPTIONAL, QueueEntry, &dirs);
}

int MakeReplacementName(LPCSTR destination, LPSTR replacement)
{
    // As the probe makes its marker, with "X".
    return CopyString(replacement, MAX_PATH, destination) && ReplaceLastCharacter(replacement, 'X');
}

// A shared file whose last use goes and which this run installs anew has
// both a deletion and a replacement. The deletion is dropped: carried out at
// the restart after the replacement it would delete the new file.
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

static DWORD FileSize(LPCSTR path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0xFFFFFFFFu;
    DWORD size = GetFileSize(file, NULL);
    CloseHandle(file);
    return size;
}

static int DriveIndex(LPCSTR path)
{
    char letter = path[0];
    if (path[1] != ':')
        return -1;
    if (letter >= 'a' && letter <= 'z')
        return letter - 'a';
    if (letter >= 'A' && letter <= 'Z')
        return letter - 'A';
    return -1;
}

// A new file placed on another drive than the patch directory's is copied
// there, so that drive needs room for it; on its own drive it is moved.
// Each such drive is asked for the sum of what it receives.
static int CheckDrivesHaveRoom(void)
{
    DWORD needed[26];
    char root[4] = "?:\\";
    ZeroBytes(needed, sizeof(needed));
    for (PendingFileOp *record = FirstPendingOp(); record != NULL; record = record->next) {
        if (record->kind != Replace)
            continue;
        int to = DriveIndex(record->destination);
        if (to < 0 || to == DriveIndex(record->source))
            continue;
        DWORD size = FileSize(record->source);
        if (size == 0xFFFFFFFFu || needed[to] + size < needed[to])
            return 0;
        needed[to] += size;
    }
    for (int i = 0; i < 26; i++) {
        root[0] = (char)('A' + i);
        if (needed[i] != 0 && !CheckFreeSpace(root, needed[i]))
            return 0;
    }
    return 1;
}

// NT: the list of delayed operations must be one this user may change, and
// small enough, with this run's operations, for the journal's undo to read
// it back whole.
static int CheckDelayedOpsCanBeWritten(LPCSTR patchDir)
{
    HKEY key;
    DWORD size = 0;
    DWORD type = REG_NONE;
    // Every NT has the key; where it is missing, the first delayed
    // operation makes it and there is nothing of others' to keep.
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SESSION_MANAGER_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (result == ERROR_SUCCESS) {
        result = RegQueryValueExA(key, PENDING_RENAMES_VALUE, NULL, &type, NULL, &size);
        RegCloseKey(key);
    }
    if (result == ERROR_FILE_NOT_FOUND)
        size = 0;
    else if (result != ERROR_SUCCESS)
        return 0;
    // "\??\", "!\??\" and two NULs beside each pair's paths.
    size += (DWORD)lstrlenA(patchDir) + 8;
    for (PendingFileOp *record = FirstPendingOp(); record != NULL; record = record->next)
        size += (DWORD)lstrlenA(record->source) + 2 * (DWORD)lstrlenA(record->destination) + 16;
    return size <= PENDING_LIST_CAPACITY - 2;
}

// The length of a path's short form, or of the path where it has none.
static DWORD ShortLength(LPCSTR path)
{
    char shortForm[MAX_PATH];
    ShortForm(path, shortForm);
    return (DWORD)lstrlenA(shortForm);
}

// Windows 95: WININIT.INI must be writable, and [Rename] must hold its
// lines and this run's. A new file's short name is not known before it
// exists; an 8.3 name has at most 12 characters beside its directory's.
static int CheckRenameSectionFits(void)
{
    static char section[RENAME_SECTION_CAPACITY];
    char iniPath[MAX_PATH];
    if (!GetWininitPath(iniPath))
        return 0;
    DWORD attributes = GetFileAttributesA(iniPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return 0;
    DWORD total = GetPrivateProfileSectionA("Rename", section, sizeof(section), iniPath);
    if (total >= sizeof(section) - 2)
        return 0;
    for (PendingFileOp *record = FirstPendingOp(); record != NULL; record = record->next) {
        if (record->source[0] == '\0')
            continue;
        if (record->kind == Replace)
            total += 2 * ShortLength(record->destination) + 12 + 2;
        else
            total += 4 + ShortLength(record->source) + 1;
    }
    return total + 1 <= RENAME_SECTION_CAPACITY - 2;
}

int ScheduleReplacements(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir)
{
    if (!QueueBlock(BLOCK_INSTALL_MOVES, patchDir, installDir) || !QueueBlock(BLOCK_SHARED_MOVES, patchDir, sharedDir) ||
        !QueueBlock(BLOCK_CLEANUP, patchDir, NULL))
        return 0;
    if (FirstPendingOp() == NULL)
        return 1;
    DropSupersededDeletions();
    if (!CheckDrivesHaveRoom())
        return 0;
    return IsWindowsNT() ? CheckDelayedOpsCanBeWritten(patchDir) : CheckRenameSectionFits();
}
