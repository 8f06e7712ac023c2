// The program information file (PIF) through which the shell starts a DOS
// program: which program, in which directory, with which parameters.
#ifndef WF_PATCHER_PIF_H
#define WF_PATCHER_PIF_H

#include "platform/win32.h"

// Name of the PIF in the patch directory.
#define PIF_FILE_NAME "pcpcwf.pif"

// Makes sure a file exists at `path`: one already there is used as it is;
// otherwise the program's PIF template is written to it. A template that
// could not be written whole is deleted again, so no damaged PIF is left
// for a later run to reuse. Nonzero on success.
int WritePifTemplate(LPCSTR path);

// Writes the program file name, the start-up directory and the parameters
// (NULL: none) into the PIF's fields. A string that does not fit its field
// whole is refused before anything is written. Nonzero when all four fields
// were written.
int PatchPifFields(LPCSTR path, LPCSTR startupDir, LPCSTR programName, LPCSTR parameters);

#endif
