// Not built yet: shared usage accounting. Until it is, the stage succeeds
// without doing anything.
#include "commit/shared_usage.h"

int UpdateSharedUsage(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir)
{
    (void)patchDir;
    (void)installDir;
    (void)sharedDir;
    return 1;
}
