// Not built yet: the patcher launch. Until it is, the stage succeeds
// without doing anything.
#include "patcher/launch.h"

int RunPatcherFromManifest(UINT programId, UINT parameterId, LPCSTR patchDir)
{
    (void)programId;
    (void)parameterId;
    (void)patchDir;
    return 1;
}
