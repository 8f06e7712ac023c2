// patch.exe's command line, as GetCommandLineA returns it:
//   <program> <patch data>
// where the program name may be quoted ("C:\PATCH~1\patch.exe") and so may
// the argument. Tabs count as blanks.
#ifndef WF_DELTA_COMMAND_LINE_H
#define WF_DELTA_COMMAND_LINE_H

#include "platform/win32.h"

// Copies the first argument after the program name into `buffer`. Returns
// FALSE when there is none, when there is more than one, or when it does not
// fit in `capacity` bytes with its terminator.
BOOL PatchArgument(LPCSTR commandLine, LPSTR buffer, int capacity);

#endif
