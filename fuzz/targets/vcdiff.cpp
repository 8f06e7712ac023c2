// The VCDIFF decoder on any delta. The input is the source file's length
// (two bytes, little-endian, cut to what the input holds), the source, and
// then the delta.
//
// Besides never reading or writing outside its buffers, a decode must not
// depend on the room it is given beyond the size it reports: with exactly
// that room it decodes the same bytes, and with one byte less it reports
// VCDIFF_TOO_LARGE. Through files it comes to the same.
#include <vector>

#include "decoder_check.h"
#include "vcdiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    std::vector<BYTE> source, delta;
    if (SplitSourceAndRest(bytes, size, &source, &delta))
        CheckDecoder(Decoder{VcdiffDecode, VcdiffResultText, VCDIFF_OK, VCDIFF_TOO_LARGE, VcdiffDecodeFiles, 0},
                     source, delta, 1u << 18);
    return 0;
}
