// The patcher's work: apply every entry of a patch.rtp to the files in the
// current directory. Written against the Win32 API alone (kernel32), so it
// builds into patch.exe and, on the host, into patch_twin on winsim.
//
// Per entry, one line "<name>: <what happened>" goes to the output:
//   - a file that already has the new size and CRC-32 is left alone;
//   - otherwise the file must have the old size and CRC-32, or nothing is
//     written;
//   - the new file is decoded beside the old one into the temporary name
//     (the name with its last character replaced by '~'), checked as it is
//     written, read back and checked again; only then is the old file
//     deleted and the temporary file renamed to its name;
//   - a run stopped between that delete and the rename leaves the name
//     missing and a checked temporary file: the next run finishes the rename.
// A failure removes the temporary file unless it is the checked new file
// waiting for its rename. The patcher's memory is one window of the new
// file and its read buffers, whatever the size of the files (delta_io.h).
#ifndef WF_DELTA_PATCH_APPLY_H
#define WF_DELTA_PATCH_APPLY_H

#include "platform/win32.h"

// Exit codes of patch.exe.
enum PatchExitCode {
    PATCH_EXIT_OK = 0,        // every entry applied, or already applied
    PATCH_EXIT_FAILED = 1,    // at least one entry was not applied
    PATCH_EXIT_BAD_DATA = 2,  // the patch data could not be read or is damaged
    PATCH_EXIT_USAGE = 3      // no patch data named on the command line
};

// Receives each output line, without a line break.
typedef void (*PatchOutput)(LPCSTR line, void *context);

// Applies the patch data in file `patchFile`. Returns a PatchExitCode.
int ApplyPatchData(LPCSTR patchFile, PatchOutput output, void *context);

// The temporary name of `name`: the same with its last byte replaced by
// '~' (names in patch data are ASCII). Returns FALSE when it does not fit.
BOOL PatchTemporaryName(LPCSTR name, LPSTR buffer, int capacity);

#endif
