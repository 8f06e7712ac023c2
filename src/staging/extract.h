// Extraction of the payload the program carries into the patch directory.
#ifndef WF_STAGING_EXTRACT_H
#define WF_STAGING_EXTRACT_H

#include "platform/win32.h"

// Writes every payload file, expanded, into the patch directory under its
// manifest name. 1 on success or an empty payload, 0 at the first failure.
int ExtractPayloads(LPCSTR patchDir);

// Writes the expanded content of `source` (SZDD-compressed, or any other
// file, copied unchanged) to `destination`, created or truncated. Both are
// full paths of fewer than OFS_MAXPATHNAME characters, as lz32 needs them.
// A file that lz32 opens under its compressed name instead fails the
// expansion; a destination's stand-in, created or emptied by the open, is
// deleted. 1 on success, 0 on failure.
int ExpandFile(LPCSTR source, LPCSTR destination);

#endif
