// Not built yet: payload extraction. Until it is, the stage succeeds
// without doing anything.
#include "staging/extract.h"

int ExtractPayloads(LPCSTR patchDir)
{
    (void)patchDir;
    return 1;
}
