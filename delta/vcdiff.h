// A VCDIFF (RFC 3284) decoder for the deltas the builder's own encoder
// writes, and xdelta3 with "-S none": windows with source and target
// segments, the default code table, ADD, RUN and COPY with the near and same
// address caches, the application header, and the Adler-32 window checksum
// both write. Secondary compression and custom code tables are refused.
//
// Written in the installer's own style so the same file builds into the
// Windows patcher without a C runtime: plain functions, no allocation, no
// exceptions. It never reads or writes outside the buffers it is given,
// whatever the delta holds. Through files it holds one window of the target
// at a time, and reads the source and the delta at offsets (delta_io.h).
#ifndef WF_DELTA_VCDIFF_H
#define WF_DELTA_VCDIFF_H

#include "delta_io.h"
#include "platform/win32.h"

enum VcdiffResult {
    VCDIFF_OK = 0,
    VCDIFF_TRUNCATED,        // the delta ends inside a header, window or section
    VCDIFF_BAD_HEADER,       // not VCDIFF, or an unknown header flag
    VCDIFF_UNSUPPORTED,      // secondary compression or a custom code table
    VCDIFF_BAD_WINDOW,       // a window's indicator, segment or lengths are inconsistent
    VCDIFF_BAD_INSTRUCTION,  // an instruction runs past its section or the window
    VCDIFF_BAD_ADDRESS,      // a COPY address outside source + target so far
    VCDIFF_TOO_LARGE,        // the target does not fit the output buffer
    VCDIFF_BAD_CHECKSUM,     // a window's Adler-32 does not match what it decoded
    VCDIFF_WINDOW_TOO_LARGE, // a window's target is over DELTA_WINDOW_MAX or the window given
    VCDIFF_READ_FAILED,      // reading the source, the delta or the target back failed
    VCDIFF_WRITE_FAILED      // appending a window to the target failed
};

// Decodes `delta` against `source` into `target` (capacity bytes). On
// VCDIFF_OK, *targetSize holds the decoded size. On any other result
// `target` may hold part of the output, not to be used, and *targetSize is 0.
//
// A pointer may be null only with a size of 0. A delta with no window at all
// counts as VCDIFF_TRUNCATED (xdelta3 writes one even for an empty target),
// but one cut exactly between two windows still decodes, to a shorter
// target: the format records no total length, so the caller must check the
// decoded size and content against what it expects.
int VcdiffDecode(const BYTE *source, DWORD sourceSize, const BYTE *delta, DWORD deltaSize,
                 BYTE *target, DWORD capacity, DWORD *targetSize);

// The same through files: `target` says whether the result goes to memory
// or through its window to a file (delta_io.h). On VCDIFF_OK, *targetSize
// holds the size written. On a failure a file target may hold part of the
// result.
int VcdiffDecodeFiles(const DeltaFile *source, const DeltaFile *delta, const DeltaTarget *target,
                      DWORD *targetSize);

// A short English text for a result, to follow "the patch data does not apply: ".
LPCSTR VcdiffResultText(int result);

#endif
