// Payload extraction. Payload entry k is raw-data resource 100 + k, written
// under its stored name (block 1000) and expanded under its expanded name
// (block 1100); the stored file goes again whatever the expansion did.
// Files of the same names left by an earlier run are overwritten.
#include "staging/extract.h"
#include "manifest/manifest.h"
#include "manifest/paths.h"

int WriteResourceFile(WORD id, LPCSTR path, DWORD creation, int deleteIfShort)
{
    HMODULE module = GetPatchModule();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), RT_RCDATA);
    if (found == NULL)
        return 0;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == NULL)
        return 0;
    LPVOID bytes = LockResource(loaded);
    if (bytes == NULL)
        return 0;
    DWORD size = SizeofResource(module, found);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, creation, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    // A short write (a full disk) is a failure: the stored file would
    // expand to a damaged file.
    DWORD written = 0;
    int ok = WriteFile(file, bytes, size, &written, NULL) && written == size;
    CloseHandle(file);
    if (!ok && deleteIfShort)
        DeleteFileA(path);
    return ok;
}

int WriteResourceToFile(WORD id, LPCSTR path)
{
    return WriteResourceFile(id, path, CREATE_ALWAYS, 0);
}

int ExpandFile(LPCSTR source, LPCSTR destination)
{
    OFSTRUCT openInfo;
    BYTE *raw = (BYTE *)&openInfo;
    for (DWORD i = 0; i < sizeof(openInfo); i++)
        raw[i] = 0;
    openInfo.cBytes = sizeof(openInfo);
    INT from = LZOpenFileA((LPSTR)source, &openInfo, OF_READ);
    if (from < 0)
        return 0;
    openInfo.cBytes = sizeof(openInfo);
    INT to = LZOpenFileA((LPSTR)destination, &openInfo, OF_CREATE);
    if (to < 0) {
        LZClose(from);
        return 0;
    }
    LONG copied = LZCopy(from, to);
    LZClose(to);
    LZClose(from);
    return copied >= 0;
}

int ExtractPayloads(LPCSTR patchDir)
{
    char name[MAX_PATH];
    char storedPath[MAX_PATH];
    char expandedPath[MAX_PATH];
    LONG count;

    if (!LoadBlockCount(BLOCK_PAYLOAD, &count))
        return 0;
    int result = 1;
    for (LONG k = 1; k <= count && result; k++) {
        if (!LoadManifestString(BLOCK_PAYLOAD + k, name, sizeof(name)) ||
            !JoinPath(storedPath, sizeof(storedPath), patchDir, name)) {
            result = 0;
            break;
        }
        if (!WriteResourceToFile((WORD)(ID_PAYLOAD_BASE + k), storedPath)) {
            result = 0;
            break;
        }
        // Without an expanded name (or with one that does not fit) the
        // destination is empty, which the expansion refuses.
        if (!LoadManifestString(BLOCK_EXPANDED_NAMES + k, name, sizeof(name)) ||
            !JoinPath(expandedPath, sizeof(expandedPath), patchDir, name))
            expandedPath[0] = '\0';
        result = ExpandFile(storedPath, expandedPath);
        DeleteFileA(storedPath);
    }
    return result;
}
