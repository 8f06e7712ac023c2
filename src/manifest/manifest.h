// The manifest: the program's string table, which describes the patch and
// holds every text the user sees, and the helpers every stage reads it with.
#ifndef WF_MANIFEST_MANIFEST_H
#define WF_MANIFEST_MANIFEST_H

#include "platform/win32.h"
#include "common/contract.h"

// The module whose resources are the manifest. Set once by the driver.
void SetPatchModule(HINSTANCE module);
HINSTANCE GetPatchModule(void);

// Loads string `id` into buffer (capacity characters, terminator included).
// Returns the number of characters loaded; 0 when the string is absent, and
// then the buffer is empty.
int LoadManifestString(UINT id, LPSTR buffer, int capacity);

// Reads the count of block `baseId` (string N000: a decimal count, a blank
// and a comment). Returns 0 when the count string is absent; otherwise 1 with
// *count set (zero or less means an empty block). Entries are N001 upward.
int LoadBlockCount(UINT baseId, LONG *count);

// How ForEachBlockEntry takes a block's missing strings.
#define BLOCK_REQUIRED 1  // a missing count or entry fails the walk
#define BLOCK_OPTIONAL 0  // a missing count is an empty block; a missing
                          // entry is passed over

// One entry of a block: its string, its number (1 upward) and the caller's
// context. Nonzero to go on to the next entry.
typedef int (*BlockEntryVisitor)(LPCSTR name, LONG number, const void *context);

// Loads the entries of block `baseId` in order, each into a buffer of
// NAME_CAPACITY, and hands each to `visit`. 1 when every entry was visited
// and every visit returned nonzero; 0 at the first visit that returned 0,
// or at the first missing string when `required` is BLOCK_REQUIRED.
int ForEachBlockEntry(UINT baseId, int required, BlockEntryVisitor visit, const void *context);

// The leading decimal number of text: leading white space skipped, one
// optional sign, digits up to the first non-digit; no digits give 0. Wraps in
// 32 bits, so a number above 2147483647 that fits in 32 unsigned bits yields
// its bit pattern (checksums rely on that).
LONG ParseCount(LPCSTR text);

// Shows a message box with the manifest's text `textId` and caption
// `captionId` (each up to 255 characters; a missing one shows as empty).
// Returns the button pressed (IDYES, IDNO, IDOK), or 0 if no box was shown.
int ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type);

// The same with the manifest's wsprintfA format `formatId` (up to 511
// characters) filled in with two strings, the message cut to 511 characters.
int ShowFormattedMessage(HWND owner, UINT formatId, UINT captionId, UINT type, LPCSTR first, LPCSTR second);

#endif
