// The difference delta's decoder on any delta, and its encoder on any pair.
// The input is the old file's length (two bytes, little-endian, cut to
// what the input holds), the old file, and then the rest.
//
// The rest, as a delta: the decoder must never read or write outside its
// buffers, and must not depend on the room it is given beyond the size it
// reports: with exactly that room it decodes the same bytes, and with one
// byte less it reports DIFFDELTA_TOO_LARGE. Through files, with a window of
// five bytes, it comes to the same.
// The rest, as a new file (when it and the old file are 4 KB at most, to
// keep the runs quick): the builder's encoder makes a delta that decodes to
// exactly it.
#include <string>
#include <vector>

#include "decoder_check.h"
#include "diff_delta.h"
#include "diff_delta_encode.h"

namespace {

const Decoder kDiffDelta{DiffDeltaDecode, DiffDeltaResultText, DIFFDELTA_OK, DIFFDELTA_TOO_LARGE,
                         DiffDeltaDecodeFiles, 5};
const DWORD kCapacity = 1u << 16;  // a random size field rarely asks for less
const size_t kLargestEncoded = 1u << 12;

void CheckEncoder(const std::vector<BYTE> &source, const std::vector<BYTE> &target)
{
    std::vector<BYTE> delta;
    std::string error;
    FUZZ_CHECK(diffdelta::Encode(source, target, &delta, &error), "encoder refused: %s", error.c_str());
    std::vector<BYTE> back;
    const int r = DecodeInto(kDiffDelta, source, delta, (DWORD)target.size(), &back);
    FUZZ_CHECK(r == DIFFDELTA_OK && back == target, "round trip of %zu bytes: result %d, %zu bytes",
               target.size(), r, back.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    std::vector<BYTE> source, rest;
    if (!SplitSourceAndRest(bytes, size, &source, &rest))
        return 0;
    CheckDecoder(kDiffDelta, source, rest, kCapacity);
    if (source.size() <= kLargestEncoded && rest.size() <= kLargestEncoded)
        CheckEncoder(source, rest);
    return 0;
}
