// The staging copy: the installed files that the patcher changes are copied
// into the patch directory under the same names, one at a time in manifest
// order. A copy left there by an earlier run is overwritten.
#include "staging/stage_copy.h"
#include "manifest/manifest.h"
#include "manifest/paths.h"

int StageInstalledFiles(LPCSTR installDir, LPCSTR patchDir)
{
    char name[MAX_PATH];
    char source[MAX_PATH];
    char destination[MAX_PATH];
    LONG count;

    if (!LoadBlockCount(BLOCK_STAGED_FILES, &count))
        return 0;
    int result = 1;
    for (LONG k = 1; k <= count && result; k++) {
        result = LoadManifestString(BLOCK_STAGED_FILES + k, name, sizeof(name)) &&
                 JoinPath(source, sizeof(source), installDir, name) &&
                 JoinPath(destination, sizeof(destination), patchDir, name) &&
                 CopyFileA(source, destination, FALSE);
    }
    return result;
}
