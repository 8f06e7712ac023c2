// Not built yet: replacement scheduling. Until it is, the stage succeeds
// without doing anything.
#include "commit/schedule.h"

int ScheduleReplacements(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir)
{
    (void)patchDir;
    (void)installDir;
    (void)sharedDir;
    return 1;
}
