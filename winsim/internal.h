// What winsim's API families share: the call log, fault checks, the last
// error and the code page. Not for tests; they use winsim.h.
#ifndef WINSIM_INTERNAL_H
#define WINSIM_INTERNAL_H

#include "winsim.h"

#include <string>

namespace winsim {
namespace detail {

// Records the call and tells whether an injected fault fails it; when it
// does, the fault's error is already the last error.
bool Enter(const char *function, const std::string &arg);
// The same, for a call without a useful argument.
inline bool Enter(const char *function) { return Enter(function, std::string()); }

void SetError(DWORD error);

// Lead byte test of the machine's code page.
bool IsLeadByte(unsigned char c);
// ASCII-only case folding that steps over double-byte characters, so a
// trail byte is never folded.
std::string FoldCase(const std::string &text);

// Handles that are not files (process tokens, later processes): CloseHandle
// offers each handle here first; true when it was one and is now closed.
bool CloseNonFileHandle(HANDLE handle);

// A restart that Windows carried out (ui.cpp logs it with the other events).
void RecordRestart(UINT flags);

// Per-family resets, called by Reset().
void ResetFiles(const std::string &hostRoot);
void ResetResources();
void ResetUi();
void ResetSystem();
void ResetRegistry();

}  // namespace detail
}  // namespace winsim

#endif  // WINSIM_INTERNAL_H
