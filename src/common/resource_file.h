// Raw-data resources of the program written out to files: the payload
// (extraction) and the PIF template (patcher launch).
#ifndef WF_COMMON_RESOURCE_FILE_H
#define WF_COMMON_RESOURCE_FILE_H

#include "platform/win32.h"

// Writes raw-data resource `id` of the program to `path`, created or
// truncated. Nonzero only when every byte was written.
int WriteResourceToFile(WORD id, LPCSTR path);

// Writes raw-data resource `id` of the program to `path`, opened with the
// `creation` disposition of CreateFileA (CREATE_ALWAYS, CREATE_NEW). Nonzero
// only when every byte was written. A file that was created but not written
// whole is deleted when `deleteIfShort` is nonzero and kept otherwise; a
// file that could not be opened is never touched.
int WriteResourceFile(WORD id, LPCSTR path, DWORD creation, int deleteIfShort);

#endif
