// Payload extraction. Payload entry k is raw-data resource 100 + k, written
// under its stored name (block 1000) and expanded under its expanded name
// (block 1100), each named by a path lz32 can open (LzNameInDirectory); the
// stored file goes again whatever the expansion did.
// Files of the same names left by an earlier run are overwritten.
#include "staging/extract.h"
#include "common/bytes.h"
#include "common/paths.h"
#include "common/resource_file.h"
#include "manifest/manifest.h"

// Opens `name` with lz32 and checks that it is `name` that opened: when the
// open fails, lz32 tries again under the compressed name ("x.exe" becomes
// "x.ex_", "" becomes "._"), in either style, and OF_CREATE then creates or
// empties that other file (a probe under Wine showed a read-only
// destination empty the stored file it was to be expanded from). Such a
// file is closed and, when it was created or emptied, deleted. Returns the
// LZ handle, or a negative value.
static INT OpenExactly(LPCSTR name, WORD style)
{
    OFSTRUCT openInfo;
    ZeroBytes(&openInfo, sizeof(openInfo));
    openInfo.cBytes = sizeof(openInfo);
    INT handle = LZOpenFileA((LPSTR)name, &openInfo, style);
    if (handle < 0)
        return handle;
    if (lstrcmpiA(openInfo.szPathName, name) == 0)
        return handle;
    LZClose(handle);
    if (style == OF_CREATE)
        DeleteFileA(openInfo.szPathName);
    return LZERROR_BADINHANDLE;
}

int ExpandFile(LPCSTR source, LPCSTR destination)
{
    INT from = OpenExactly(source, OF_READ);
    if (from < 0)
        return 0;
    INT to = OpenExactly(destination, OF_CREATE);
    if (to < 0) {
        LZClose(from);
        return 0;
    }
    LONG copied = LZCopy(from, to);
    LZClose(to);
    LZClose(from);
    return copied >= 0;
}

// Writes into `out` (OFS_MAXPATHNAME bytes) the full path of `name` in
// `dir`, when it has fewer than OFS_MAXPATHNAME characters. 0 otherwise.
static int FullPathThatFits(LPCSTR dir, LPCSTR name, LPSTR out)
{
    char joined[MAX_PATH];
    if (!JoinPath(joined, sizeof(joined), dir, name))
        return 0;
    DWORD length = GetFullPathNameA(joined, OFS_MAXPATHNAME, out, NULL);
    return length != 0 && length < OFS_MAXPATHNAME;
}

// The name lz32 can open `name` of the patch directory by. OpenFile, behind
// every LZ call, keeps the full path in OFSTRUCT.szPathName, 128 bytes: a
// full path of 128 characters or more fails (error 13), and a relative name
// counts by its full path too (a probe under Wine decided both). So the
// patch directory is named in its short form when its long form does not
// fit. 0 when neither fits, or when the short form cannot be had (a volume
// without short names gives the long form back).
static int LzNameInDirectory(LPCSTR patchDir, LPCSTR name, LPSTR out)
{
    char shortDir[MAX_PATH];
    if (name[0] == '\0')
        return 0;
    if (FullPathThatFits(patchDir, name, out))
        return 1;
    DWORD length = GetShortPathNameA(patchDir, shortDir, sizeof(shortDir));
    if (length == 0 || length >= sizeof(shortDir))
        return 0;
    return FullPathThatFits(shortDir, name, out);
}

// Payload entry k, stored under `storedName`. Both names are settled
// before anything is written: an entry whose expanded name is missing, empty
// or does not fit fails here, never in lz32, which would take "" for "._".
static int ExtractEntry(LPCSTR storedName, LONG k, const void *patchDir)
{
    char expandedName[MAX_PATH];
    char storedPath[OFS_MAXPATHNAME];
    char expandedPath[OFS_MAXPATHNAME];
    if (!LzNameInDirectory((LPCSTR)patchDir, storedName, storedPath) ||
        !LoadManifestString(BLOCK_EXPANDED_NAMES + (UINT)k, expandedName, sizeof(expandedName)) ||
        !LzNameInDirectory((LPCSTR)patchDir, expandedName, expandedPath) ||
        !WriteResourceToFile((WORD)(ID_PAYLOAD_BASE + k), storedPath))
        return 0;
    int expanded = ExpandFile(storedPath, expandedPath);
    DeleteFileA(storedPath);
    return expanded;
}

int ExtractPayloads(LPCSTR patchDir)
{
    return ForEachBlockEntry(BLOCK_PAYLOAD, BLOCK_REQUIRED, ExtractEntry, patchDir);
}
