// The commit: the registry changes and file operations the shared-usage and
// scheduling stages worked out, made under the protection of a journal, so
// that a run that fails or is cut off can be undone.
#ifndef WF_COMMIT_COMMIT_H
#define WF_COMMIT_COMMIT_H

#include "platform/win32.h"

// Journals, then makes the planned registry changes, places every new file
// beside its target, registers the operations for the next restart, and
// last places the version-check file's replacement (the pending-restart
// marker) and removes the journal. Returns 0 on success; on a failure it
// undoes what it did and returns the message of the part that failed
// (MSG_REGISTRY_FAILED, MSG_SCHEDULE_FAILED). The pending-operation list
// is empty afterwards.
UINT CommitPatch(LPCSTR patchDir, LPCSTR installDir);

// Undoes a run that was cut off before its commit point, if the install
// directory's patch directory holds its journal. 1 when there was nothing
// to undo or all was undone; 0 when something could not be undone.
int RecoverInterruptedRun(LPCSTR installDir);

// Drops what a run left in this process: the pending-operation list, the
// registry plan and the journal's handle. Only a process that runs the patch more than once (the host's
// tests and tools, each run standing for a process of its own) needs it.
void ForgetCommitState(void);

#endif
