// The staging copy: the installed files that the patcher changes are copied
// into the patch directory under the same names, one at a time in manifest
// order. A copy left there by an earlier run is overwritten.
//
// Files installed from a CD-ROM are commonly read-only, and CopyFileA gives
// the copy the source's attributes: the patcher could then not replace the
// copy, and every later run's CopyFileA would refuse the read-only leftover.
// So the read-only attribute is taken off a leftover before it is
// overwritten, and off every copy made.
#include "staging/stage_copy.h"
#include "common/paths.h"
#include "manifest/manifest.h"

// Takes the read-only attribute off the file at `path`, keeping its other
// attributes. 1 when the file is missing or now writable; 0 when it could
// not be made writable.
static int ClearReadOnly(LPCSTR path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return 1;
    attributes &= ~(DWORD)FILE_ATTRIBUTE_READONLY;
    return SetFileAttributesA(path, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL) != 0;
}

struct StagingDirs {
    LPCSTR installDir;
    LPCSTR patchDir;
};

static int StageEntry(LPCSTR name, LONG number, const void *context)
{
    const StagingDirs *dirs = (const StagingDirs *)context;
    char source[MAX_PATH];
    char destination[MAX_PATH];
    (void)number;
    return JoinPath(source, sizeof(source), dirs->installDir, name) &&
           JoinPath(destination, sizeof(destination), dirs->patchDir, name) && ClearReadOnly(destination) &&
           CopyFileA(source, destination, FALSE) && ClearReadOnly(destination);
}

int StageInstalledFiles(LPCSTR installDir, LPCSTR patchDir)
{
    StagingDirs dirs = {installDir, patchDir};
    return ForEachBlockEntry(BLOCK_STAGED_FILES, BLOCK_REQUIRED, StageEntry, &dirs);
}
