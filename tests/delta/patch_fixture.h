// Patch data for the patcher's tests: VCDIFF deltas from the real xdelta3,
// an encoder independent of ours (whose tests are in vcdiff_encode_test.cpp),
// or difference deltas from the builder's encoder; entries from the
// builder's writer.
#ifndef WF_TESTS_DELTA_PATCH_FIXTURE_H
#define WF_TESTS_DELTA_PATCH_FIXTURE_H

#include <string>
#include <vector>

struct FilePair {
    std::string name;
    std::string oldBytes, newBytes;
};

// xdelta3 -e -S none from oldBytes to newBytes.
std::string MakeDelta(const std::string &oldBytes, const std::string &newBytes);
// patch.rtp for the pairs, in order, with deltas of `kind` (a PatchDeltaKind).
std::string BuildPatchData(const std::vector<FilePair> &files, int kind = 0);
// Recomputes the header's CRC-32 after a test changed the entries, so the
// reader gets past the CRC to the fault the test is about.
void Reseal(std::string *data);
// Bytes that look like a program: varied, with repeats for the delta to use.
std::string SampleBytes(unsigned seed, size_t size);

#endif
