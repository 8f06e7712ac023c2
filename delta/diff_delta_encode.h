// The builder's encoder of difference deltas (diff_delta.h), host only.
//
// It matches the new file against the old one through a suffix array of
// the old file, and grows each exact match into a stretch that goes on
// while at least half its bytes still agree, the way a rebuilt program
// agrees with the old one between the addresses that moved. The bytes
// between stretches go into the delta as they are. Stretches, their
// differences and the bytes between them are coded with the decoder's
// adaptive models.
#ifndef WF_DELTA_DIFF_DELTA_ENCODE_H
#define WF_DELTA_DIFF_DELTA_ENCODE_H

#include <cstdint>
#include <string>
#include <vector>

namespace diffdelta {

// Encodes `target` as a difference delta against `source`. Returns false
// with *error when either is 4 GB or more.
bool Encode(const std::vector<std::uint8_t>& source, const std::vector<std::uint8_t>& target,
            std::vector<std::uint8_t>* delta, std::string* error);

}  // namespace diffdelta

#endif
