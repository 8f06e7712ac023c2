// The commit's journal, COMMIT.JNL in the patch directory.
//
// Format: text in the system's code page, one record a line, fields
// separated by a tab, every line ended by "\r\n". Paths, key paths and value
// names never hold a tab or a line break. The first line is
//   WFJ1
// and the lines after it are written in this order, each before the change
// it describes is made (the file is opened write-through and flushed before
// every change):
//   K <tab> 0|1 <tab> key
//       a key under HKEY_LOCAL_MACHINE that the run creates (0: it did not
//       exist before) or deletes (1)
//   V <tab> 0|1 <tab> type <tab> hex <tab> key <tab> name
//       a value the run sets or deletes, as it was before: 1 and its type
//       (decimal) and data (two lower-case hex digits a byte), or 0 when
//       there was none; name is empty for the key's default value
//   F <tab> path
//       a file the run creates: a new file placed beside its target, or on
//       Windows 95 one moved to where no file was
//   D <tab> path
//       the source of a delayed operation registered with MoveFileExA (NT),
//       as it was passed
//   L <tab> line
//       a line added to [Rename] in WININIT.INI (Windows 95)
// A last line without its "\r\n" was cut off while being written and is not
// read; nothing it describes had been done.
//
// The run deletes the journal once everything is in place: that is its
// commit point. A journal found by a later run is rolled back: the delayed
// operations and [Rename] lines it names are taken out (other programs'
// stay), its files deleted, its values and keys put back as they were, each
// step harmless when its change had not been made yet.
#include "commit/journal.h"
#include "commit/registry_plan.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/registry_keys.h"
#include "manifest/manifest.h"

#define JOURNAL_CAPACITY 65536

static HANDLE g_journal = INVALID_HANDLE_VALUE;
static char g_pending[4096];  // lines not yet written
static DWORD g_pendingLength;
static DWORD g_journalLength;  // written and pending

// What the undo reads back, and its work buffers.
static char g_text[JOURNAL_CAPACITY + 1];
static char g_list[PENDING_LIST_CAPACITY];
static char g_kept[PENDING_LIST_CAPACITY];
static char g_section[RENAME_SECTION_CAPACITY];
static char g_keptSection[RENAME_SECTION_CAPACITY];

static int JournalFilePath(LPCSTR patchDir, LPSTR path)
{
    return JoinPath(path, MAX_PATH, patchDir, JOURNAL_NAME);
}

int OpenJournal(LPCSTR patchDir)
{
    char path[MAX_PATH];
    CloseJournal();
    if (!JournalFilePath(patchDir, path))
        return 0;
    g_journal = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, NULL);
    if (g_journal == INVALID_HANDLE_VALUE)
        return 0;
    g_pendingLength = g_journalLength = 0;
    return JournalLine("WFJ1\r\n");
}

int SyncJournal(void)
{
    DWORD written = 0;
    if (g_journal == INVALID_HANDLE_VALUE)
        return 0;
    if (g_pendingLength != 0 &&
        (!WriteFile(g_journal, g_pending, g_pendingLength, &written, NULL) || written != g_pendingLength))
        return 0;
    g_pendingLength = 0;
    return FlushFileBuffers(g_journal) != 0;
}

int JournalLine(LPCSTR line)
{
    DWORD length = (DWORD)lstrlenA(line);
    if (g_journal == INVALID_HANDLE_VALUE || g_journalLength + length > JOURNAL_CAPACITY)
        return 0;
    if (g_pendingLength + length > sizeof(g_pending) && !SyncJournal())
        return 0;
    if (length > sizeof(g_pending))
        return 0;
    for (DWORD i = 0; i < length; i++)
        g_pending[g_pendingLength + i] = line[i];
    g_pendingLength += length;
    g_journalLength += length;
    return 1;
}

int GetWininitPath(LPSTR path)
{
    UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    return length != 0 && length < MAX_PATH && AppendString(path, MAX_PATH, "\\WININIT.INI");
}

int JournalPath(char tag, LPCSTR path)
{
    char line[2 * MAX_PATH + 8];  // a [Rename] line holds two paths
    line[0] = tag;
    line[1] = '\t';
    line[2] = '\0';
    return AppendString(line, sizeof(line), path) && AppendString(line, sizeof(line), "\r\n") && JournalLine(line);
}

void CloseJournal(void)
{
    if (g_journal != INVALID_HANDLE_VALUE)
        CloseHandle(g_journal);
    g_journal = INVALID_HANDLE_VALUE;
    g_pendingLength = 0;
}

int RemoveJournal(LPCSTR patchDir)
{
    char path[MAX_PATH];
    CloseJournal();
    return JournalFilePath(patchDir, path) && DeleteFileA(path);
}

// ---- Reading it back --------------------------------------------------------

// Reads the journal into g_text and cuts it after its last whole line. 1
// with *length set, 0 when there is none, -1 when it cannot be read.
static int ReadJournal(LPCSTR path, DWORD *length)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? 0 : -1;
    DWORD size = GetFileSize(file, NULL);
    DWORD total = 0;
    int ok = size != 0xFFFFFFFFu && size <= JOURNAL_CAPACITY;
    while (ok && total < size) {
        DWORD got = 0;
        if (!ReadFile(file, g_text + total, size - total, &got, NULL) || got == 0)
            ok = 0;
        total += got;
    }
    CloseHandle(file);
    if (!ok)
        return -1;
    while (total > 0 && g_text[total - 1] != '\n')
        total--;
    g_text[total] = '\0';
    *length = total;
    return 1;
}

// Splits g_text in place: every tab and line end becomes a NUL, so each
// line is its fields one after another and an empty string (from "\r\n"
// the "\n" is left as the line's end mark).
static void SplitJournal(DWORD length)
{
    for (DWORD i = 0; i < length; i++) {
        if (g_text[i] == '\t' || g_text[i] == '\r')
            g_text[i] = '\0';
    }
}

// The walk over split lines: *line points at a line's tag; returns the
// start of the next line, or NULL at the end.
static LPSTR NextLine(LPSTR line, DWORD length)
{
    while ((DWORD)(line - g_text) < length && *line != '\n')
        line++;
    return (DWORD)(line - g_text) < length ? line + 1 : NULL;
}

// The i-th field of a split line (0 is the tag).
static LPCSTR Field(LPCSTR line, int index)
{
    for (int i = 0; i < index; i++) {
        if (*line == '\n')
            return line;  // a short line: the rest read as ""
        line += lstrlenA(line) + 1;
    }
    return *line == '\n' ? "" : line;
}

static int IsTag(LPCSTR line, char tag) { return line[0] == tag && line[1] == '\0'; }

// Whether `path` is the path of one of the journal's lines of `tag`.
static int Listed(char tag, LPCSTR path, DWORD length)
{
    for (LPSTR line = g_text; line != NULL; line = NextLine(line, length)) {
        if (IsTag(line, tag) && lstrcmpiA(Field(line, 1), path) == 0)
            return 1;
    }
    return 0;
}

static int HasTag(char tag, DWORD length)
{
    for (LPSTR line = g_text; line != NULL; line = NextLine(line, length)) {
        if (IsTag(line, tag))
            return 1;
    }
    return 0;
}

// Takes this run's pairs out of PendingFileRenameOperations: those whose
// source, after NT's "\??\", is one the journal names. Others stay as
// they are, in their order.
static int RemoveDelayedOps(DWORD length)
{
    HKEY key;
    if (!HasTag(JOURNAL_DELAYED_OP, length))
        return 1;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SESSION_MANAGER_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return 1;
    if (opened != ERROR_SUCCESS)
        return 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof(g_list) - 2;
    LONG result = RegQueryValueExA(key, PENDING_RENAMES_VALUE, NULL, &type, (LPBYTE)g_list, &size);
    int ok = 1;
    if (result == ERROR_SUCCESS && type == REG_MULTI_SZ) {
        // Two NULs after what was read, so the walk always ends.
        g_list[size] = g_list[size + 1] = '\0';
        DWORD kept = 0;
        int removed = 0;
        LPCSTR from = g_list;
        while (*from != '\0' && (DWORD)(from - g_list) < size) {
            LPCSTR to = from + lstrlenA(from) + 1;
            LPCSTR next = to + lstrlenA(to) + 1;
            LPCSTR path = from;
            if (path[0] == '\\' && path[1] == '?' && path[2] == '?' && path[3] == '\\')
                path += 4;
            if (Listed(JOURNAL_DELAYED_OP, path, length)) {
                removed = 1;
            } else {
                for (LPCSTR p = from; p < next; p++)
                    g_kept[kept++] = *p;
            }
            from = next;
        }
        if (removed) {
            g_kept[kept++] = '\0';
            if (kept == 1)
                result = RegDeleteValueA(key, PENDING_RENAMES_VALUE);
            else
                result = RegSetValueExA(key, PENDING_RENAMES_VALUE, 0, REG_MULTI_SZ, (const BYTE *)g_kept, kept);
            ok = result == ERROR_SUCCESS;
        }
    } else if (result != ERROR_FILE_NOT_FOUND) {
        ok = 0;
    }
    RegCloseKey(key);
    return ok;
}

// Takes this run's lines out of [Rename]; other programs' lines stay.
static int RemoveRenameLines(DWORD length)
{
    char iniPath[MAX_PATH];
    if (!HasTag(JOURNAL_RENAME_LINE, length))
        return 1;
    if (!GetWininitPath(iniPath))
        return 0;
    DWORD read = GetPrivateProfileSectionA("Rename", g_section, sizeof(g_section), iniPath);
    if (read >= sizeof(g_section) - 2)
        return 0;
    DWORD kept = 0;
    int removed = 0;
    for (LPCSTR line = g_section; *line != '\0'; line += lstrlenA(line) + 1) {
        if (Listed(JOURNAL_RENAME_LINE, line, length)) {
            removed = 1;
            continue;
        }
        int lineLength = lstrlenA(line);
        for (int i = 0; i <= lineLength; i++)
            g_keptSection[kept++] = line[i];
    }
    if (!removed)
        return 1;
    g_keptSection[kept] = '\0';
    if (kept == 0)
        g_keptSection[1] = '\0';
    return WritePrivateProfileSectionA("Rename", g_keptSection, iniPath) != 0;
}

static int DeleteIfThere(LPCSTR path)
{
    if (DeleteFileA(path))
        return 1;
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Whether the journal says the key did not exist before the run: then its
// values go with it.
static int KeyWasNew(LPCSTR keyPath, DWORD length)
{
    for (LPSTR line = g_text; line != NULL; line = NextLine(line, length)) {
        if (IsTag(line, 'K') && Field(line, 1)[0] == '0' && lstrcmpiA(Field(line, 2), keyPath) == 0)
            return 1;
    }
    return 0;
}

// Puts a value back as the journal's V line has it.
static int RestoreValue(LPCSTR line)
{
    LPCSTR key = Field(line, 4);
    LPCSTR name = Field(line, 5);
    HKEY handle;
    if (Field(line, 1)[0] != '1') {
        LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &handle);
        if (opened == ERROR_FILE_NOT_FOUND)
            return 1;
        if (opened != ERROR_SUCCESS)
            return 0;
        LONG result = RegDeleteValueA(handle, name);
        RegCloseKey(handle);
        return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
    }
    BYTE data[PLANNED_DATA_SIZE];
    DWORD size = 0;
    LPCSTR hex = Field(line, 3);
    for (; hex[0] != '\0'; hex += 2) {
        int high = HexValue(hex[0]);
        int low = high < 0 ? -1 : HexValue(hex[1]);
        if (low < 0 || size == sizeof(data))
            return 0;
        data[size++] = (BYTE)(high * 16 + low);
    }
    DWORD type = (DWORD)ParseCount(Field(line, 2));
    if (!CreateKeyForWriting(HKEY_LOCAL_MACHINE, key, &handle))
        return 0;
    int restored = SetRegistryValue(handle, name, type, data, size);
    RegCloseKey(handle);
    return restored;
}

int RollBackJournal(LPCSTR patchDir)
{
    char path[MAX_PATH];
    DWORD length = 0;
    CloseJournal();
    if (!JournalFilePath(patchDir, path))
        return 1;  // no patch directory of that name can exist
    int read = ReadJournal(path, &length);
    if (read <= 0)
        return read == 0;
    SplitJournal(length);

    // What would act at the restart goes first, while the files it names
    // are still there; then the files; then the registry.
    int ok = RemoveDelayedOps(length) && RemoveRenameLines(length);
    for (LPSTR line = g_text; ok && line != NULL; line = NextLine(line, length)) {
        if (IsTag(line, JOURNAL_FILE))
            ok = DeleteIfThere(Field(line, 1));
    }
    for (LPSTR line = g_text; ok && line != NULL; line = NextLine(line, length)) {
        if (IsTag(line, 'V') && !KeyWasNew(Field(line, 4), length))
            ok = RestoreValue(line);
    }
    for (LPSTR line = g_text; ok && line != NULL; line = NextLine(line, length)) {
        if (IsTag(line, 'K') && Field(line, 1)[0] == '0') {
            LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, Field(line, 2));
            ok = result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
        }
    }
    return ok && DeleteFileA(path);
}
