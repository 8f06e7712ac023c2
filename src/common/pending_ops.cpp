// Records are pushed and popped at the front, so every pass meets them in
// the reverse order of their pushing: the manifest's final operations
// before the shared files, the patcher's deletion before any replacement.
#include "common/pending_ops.h"
#include "common/paths.h"

static PendingFileOp *g_first;

int PushPendingOp(LPCSTR source, LPCSTR destination, LONG kind)
{
    if (source == NULL || lstrlenA(source) >= MAX_PATH ||
        (kind == Replace && (destination == NULL || lstrlenA(destination) >= MAX_PATH)))
        return 0;
    PendingFileOp *record =
        (PendingFileOp *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PendingFileOp));
    if (record == NULL)
        return 0;
    lstrcpynA(record->source, source, MAX_PATH);
    if (kind == Replace)
        lstrcpynA(record->destination, destination, MAX_PATH);
    record->kind = kind;
    record->next = g_first;
    g_first = record;
    return 1;
}

PendingFileOp *PopPendingOp(void)
{
    PendingFileOp *record = g_first;
    if (record != NULL) {
        g_first = record->next;
        record->next = NULL;
    }
    return record;
}

PendingFileOp *FirstPendingOp(void) { return g_first; }

void FreePendingOp(PendingFileOp *record)
{
    if (record != NULL)
        HeapFree(GetProcessHeap(), 0, record);
}
