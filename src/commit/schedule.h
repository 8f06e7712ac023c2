// Replacement scheduling: the last file stage of a run.
#ifndef WF_COMMIT_SCHEDULE_H
#define WF_COMMIT_SCHEDULE_H

#include "platform/win32.h"

// Queues the manifest's final operations (blocks 4000, 5000, 6000), places
// every new file beside its target under its replacement name, then carries
// out or hands to the next restart every queued operation. 1 on success,
// 0 when a source is missing, a record cannot be made, a new file cannot be
// placed, or a Windows 95 restart line cannot be recorded.
int ScheduleReplacements(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir);

#endif
