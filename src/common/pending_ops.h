// The pending-operation list: every file replacement and deletion the
// commit stages decide on, carried out together at the end of the run.
#ifndef WF_COMMON_PENDING_OPS_H
#define WF_COMMON_PENDING_OPS_H

#include "platform/win32.h"

enum PendingOpKind { Replace = 0, Delete = 1 };

struct PendingFileOp {
    char source[MAX_PATH];       // Replace: the new file; Delete: the file to go
    char destination[MAX_PATH];  // Replace: the file replaced; Delete: empty
    LONG kind;                   // a PendingOpKind
    PendingFileOp *next;         // the record pushed before this one
};

// Pushes a record at the front. Paths that do not fit a record's 260
// characters are refused, like a failed allocation: 0, the list unchanged.
int PushPendingOp(LPCSTR source, LPCSTR destination, LONG kind);

// Unlinks the front record and hands it to the caller, who frees it with
// FreePendingOp; NULL when the list is empty.
PendingFileOp *PopPendingOp(void);

// The front record, for a walk along `next` that leaves the list as it is.
PendingFileOp *FirstPendingOp(void);

void FreePendingOp(PendingFileOp *record);

#endif
