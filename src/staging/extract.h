// Extraction of the payload the program carries into the patch directory.
#ifndef WF_STAGING_EXTRACT_H
#define WF_STAGING_EXTRACT_H

#include "platform/win32.h"

// Writes every payload file, expanded, into the patch directory under its
// manifest name. 1 on success or an empty payload, 0 at the first failure.
int ExtractPayloads(LPCSTR patchDir);

// Writes raw-data resource `id` of the program to `path`, created or
// truncated. Nonzero only when every byte was written.
int WriteResourceToFile(WORD id, LPCSTR path);

// Writes raw-data resource `id` of the program to `path`, opened with the
// `creation` disposition of CreateFileA (CREATE_ALWAYS, CREATE_NEW). Nonzero
// only when every byte was written. A file that was created but not written
// whole is deleted when `deleteIfShort` is nonzero and kept otherwise; a
// file that could not be opened is never touched.
int WriteResourceFile(WORD id, LPCSTR path, DWORD creation, int deleteIfShort);

// Writes the expanded content of `source` (SZDD-compressed, or any other
// file, copied unchanged) to `destination`, created or truncated. Both are
// full paths of fewer than OFS_MAXPATHNAME characters, as lz32 needs them.
// A file that lz32 opens under its compressed name instead fails the
// expansion; a destination's stand-in, created or emptied by the open, is
// deleted. 1 on success, 0 on failure.
int ExpandFile(LPCSTR source, LPCSTR destination);

#endif
