// Telling DOS programs, which the shell starts through a PIF, from Windows
// programs, which it starts directly.
#ifndef WF_PATCHER_DOS_DETECT_H
#define WF_PATCHER_DOS_DETECT_H

#include "platform/win32.h"

#define EXECUTABLE_DOS 1      // start through a PIF
#define EXECUTABLE_WINDOWS 2  // start directly

// Looks at the start of a program file. Success with *kind EXECUTABLE_DOS:
// a DOS program, or one with a DOS loader (an OS/2-family program). Success
// with EXECUTABLE_WINDOWS: a PE, or an NE program for Windows. Failure: not
// a program ("MZ" missing) or the file cannot be read; *kind is set to
// EXECUTABLE_DOS as soon as "MZ" has been seen.
int IsDosExecutable(LPCSTR path, int *kind);

#endif
