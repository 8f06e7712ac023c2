#ifndef WF_COMMIT_SCHEDULE_H
#define WF_COMMIT_SCHEDULE_H

#include "platform/win32.h"

// Places every new file beside its target and arranges the replacements and
// deletions for the next restart. 1 on success, 0 on failure.
int ScheduleReplacements(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir);

#endif
