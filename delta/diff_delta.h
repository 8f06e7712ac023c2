// The patcher's second delta form, the "difference delta": the new file as
// stretches of the old one with small byte differences added, and between
// them bytes of its own or repeats of earlier bytes of the new file, all
// through an adaptive binary range coder.
// A program rebuilt after an edit keeps most of its code, but every
// absolute address and branch displacement past the edit moves by the same
// small amount; as differences those are a few bytes among long runs of
// zeros, which the coder stores in a few bits each, where an exact-copy
// delta has to spell every changed address out.
//
// The layout is in patch_data.md ("The difference delta"); the builder's
// encoder is diff_delta_encode.h, which shares the model layout below.
//
// Written in the installer's own style so the same file builds into the
// Windows patcher without a C runtime: plain functions, no allocation, no
// exceptions. Its models live in one static block (over 4 KB: on the stack
// they would call the stack probe), so decodes must not run side by side.
// It never reads or writes outside the buffers it is given, whatever the
// delta holds.
#ifndef WF_DELTA_DIFF_DELTA_H
#define WF_DELTA_DIFF_DELTA_H

#include "delta_io.h"
#include "platform/win32.h"

enum DiffDeltaResult {
    DIFFDELTA_OK = 0,
    DIFFDELTA_TRUNCATED,   // the coded stream ends before the new file does
    DIFFDELTA_TOO_LARGE,   // the new file does not fit the output buffer
    DIFFDELTA_BAD_LENGTH,  // a stretch runs past the new file, or a length is not a number
    DIFFDELTA_BAD_SOURCE,  // a stretch reads outside the old file, or a repeat before the new one
    DIFFDELTA_TRAILING,    // coded bytes left after the new file is complete
    DIFFDELTA_READ_FAILED, // reading the old file, the delta or the new file back failed
    DIFFDELTA_WRITE_FAILED // writing the new file failed
};

// The coder's model layout, shared with the encoder. Probabilities are
// 11-bit (of a zero bit), moved a 32nd of the way towards each coded bit.
enum DiffDeltaModel {
    DIFFDELTA_PROB_BITS = 11,
    DIFFDELTA_PROB_ONE = 1 << DIFFDELTA_PROB_BITS,
    DIFFDELTA_PROB_SHIFT = 5,
    DIFFDELTA_NUMBER_LENGTH_BITS = 6,  // a number's bit length, 0 to 32
    DIFFDELTA_NUMBER_MODELLED = 3,     // bits below the top one with a model; the rest even
    DIFFDELTA_LITERAL_CONTEXTS = 8,    // from the top 3 bits of the byte before
    DIFFDELTA_DIFFERENCE_CONTEXTS = 2, // after a zero run, or right after a difference
    DIFFDELTA_REPEAT_CONTEXTS = 2,     // after a literal, or after a repeat
    DIFFDELTA_SHORTEST_REPEAT = 2      // a repeat's length is coded less this
};

// Which numbers a delta codes, each with models of its own.
enum DiffDeltaNumber {
    DIFFDELTA_NUM_STRETCH,  // bytes of the next stretch taken from the old file
    DIFFDELTA_NUM_ZEROS,    // bytes of a stretch before its next difference
    DIFFDELTA_NUM_EXTRA,    // bytes of the new file's own after a stretch
    DIFFDELTA_NUM_SEEK,     // how far the old file's position moves, then
    DIFFDELTA_NUM_LENGTH,   // a repeat's length, less DIFFDELTA_SHORTEST_REPEAT
    DIFFDELTA_NUM_DISTANCE, // how far back a repeat's bytes are, less 1
    DIFFDELTA_NUMBERS
};

typedef WORD DiffDeltaProb;

struct DiffDeltaNumberModel {
    DiffDeltaProb length[1 << DIFFDELTA_NUMBER_LENGTH_BITS];
    DiffDeltaProb high[33][1 << DIFFDELTA_NUMBER_MODELLED];
};

struct DiffDeltaModels {
    DiffDeltaNumberModel number[DIFFDELTA_NUMBERS];
    DiffDeltaProb seekSign;
    DiffDeltaProb repeat[DIFFDELTA_REPEAT_CONTEXTS];      // a repeat, not a literal
    DiffDeltaProb sameDistance[DIFFDELTA_REPEAT_CONTEXTS];  // the last repeat's distance again
    DiffDeltaProb literal[DIFFDELTA_LITERAL_CONTEXTS][256];
    DiffDeltaProb difference[DIFFDELTA_DIFFERENCE_CONTEXTS][256];
};

// Sets every probability to one half.
void DiffDeltaResetModels(DiffDeltaModels *models);

// Decodes `delta` against `source` into `target` (capacity bytes). On
// DIFFDELTA_OK, *targetSize holds the decoded size, which the delta
// records. On any other result `target` may hold part of the output, not
// to be used, and *targetSize is 0. A pointer may be null only with a size
// of 0.
int DiffDeltaDecode(const BYTE *source, DWORD sourceSize, const BYTE *delta, DWORD deltaSize,
                    BYTE *target, DWORD capacity, DWORD *targetSize);

// The same through files: `target` says whether the result goes to memory
// or through its window to a file (delta_io.h). Repeats from further back
// than the window holds read the file back. On a failure a file target may
// hold part of the result.
int DiffDeltaDecodeFiles(const DeltaFile *source, const DeltaFile *delta, const DeltaTarget *target,
                         DWORD *targetSize);

// A short English text for a result, to follow "the patch data does not apply: ".
LPCSTR DiffDeltaResultText(int result);

#endif
