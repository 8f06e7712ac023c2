// Replacement scheduling: the last file stage of a run, before the commit.
#ifndef WF_COMMIT_SCHEDULE_H
#define WF_COMMIT_SCHEDULE_H

#include "platform/win32.h"

// Queues the manifest's final operations (blocks 4000, 5000, 6000) on top of
// the shared files' and checks, without changing anything, that the commit
// can carry them out: every source is there, drives that receive copies
// have room, and the restart's operations can be recorded (NT: the delayed
// operation list can be changed; Windows 95: WININIT.INI is writable and
// [Rename] has room). 1 on success, 0 at the first refusal.
int ScheduleReplacements(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir);

// The replacement name of a destination: the path with its last character,
// one byte or two, made "X". Into a MAX_PATH buffer; 0 when it is empty or
// does not fit.
int MakeReplacementName(LPCSTR destination, LPSTR replacement);

#endif
