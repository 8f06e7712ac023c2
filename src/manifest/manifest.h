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

// The leading decimal number of text: leading white space skipped, one
// optional sign, digits up to the first non-digit; no digits give 0. Wraps in
// 32 bits, so a number above 2147483647 that fits in 32 unsigned bits yields
// its bit pattern (checksums rely on that).
LONG ParseCount(LPCSTR text);

// Shows a message box with the manifest's text `textId` and caption
// `captionId` (each up to 255 characters; a missing one shows as empty).
// Returns the button pressed (IDYES, IDNO, IDOK), or 0 if no box was shown.
int ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type);

#endif
