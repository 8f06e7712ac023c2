// Not built yet: the staging copy. Until it is, the stage succeeds
// without doing anything.
#include "staging/stage_copy.h"

int StageInstalledFiles(LPCSTR installDir, LPCSTR patchDir)
{
    (void)installDir;
    (void)patchDir;
    return 1;
}
