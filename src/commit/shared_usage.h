// Shared file usage: the platform's use counts of the maker's shared files
// and the maker's own record of which products use them.
#ifndef WF_COMMIT_SHARED_USAGE_H
#define WF_COMMIT_SHARED_USAGE_H

#include "platform/win32.h"

// Works out, without changing anything, how the shared files this version
// stops using are counted down and those it adds counted up, how this
// product's use is recorded (the registry plan), and which shared files are
// to be replaced or deleted (the pending-operation list). 1 on success; 0 at
// the first failure: keys that cannot be written, a count of a type that is
// not a number, a payload copy without a version, a usage subkey that is
// missing, a plan or a record that does not fit. Shows no message.
int UpdateSharedUsage(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir);

// Compares two version strings number by number (any run of non-digits
// separates numbers; numbers compare by value). Positive when the first is
// higher, negative when lower, 0 when equal as far as both go. The
// difference saturates instead of overflowing, so its sign is always right.
LONG CompareVersions(LPCSTR first, LPCSTR second);

#endif
