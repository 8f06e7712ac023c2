// Shared file usage: the platform's use counts of the maker's shared files
// and the maker's own record of which products use them.
#ifndef WF_COMMIT_SHARED_USAGE_H
#define WF_COMMIT_SHARED_USAGE_H

#include "platform/win32.h"

// Counts down the shared files this version stops using and up those it
// adds, records this product's use, and queues the shared files to replace
// or delete. 1 on success (also when the registry keys are absent), 0 at the
// first failure. Shows no message.
int UpdateSharedUsage(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir);

// Compares two version strings number by number (any run of non-digits
// separates numbers; numbers compare by value). Positive when the first is
// higher, negative when lower, 0 when equal as far as both go. The
// difference saturates instead of overflowing, so its sign is always right.
LONG CompareVersions(LPCSTR first, LPCSTR second);

#endif
