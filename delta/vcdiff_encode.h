// A VCDIFF (RFC 3284) encoder for the patch builder, which runs on the
// build host only. It writes what the patcher's decoder (vcdiff.h) reads:
// the default code table, no secondary compression, no custom code table,
// and optionally an Adler-32 checksum per window.
//
// The whole old file is every window's source segment, and a COPY may
// also reach back into the window's own target. The instructions are
// chosen by a shortest-path search over the target positions whose cost
// is the encoded size of each step: opcode (including the code table's
// ADD+COPY and COPY+ADD pairs), explicit sizes, and each COPY address in
// its cheapest mode given the near and same caches of the path so far.
#ifndef WF_DELTA_VCDIFF_ENCODE_H
#define WF_DELTA_VCDIFF_ENCODE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vcdiff {

struct EncodeOptions {
  // Target bytes per window. The search keeps about 100 bytes of state per
  // target byte of a window, so this bounds its memory. At least 1.
  std::size_t windowSize = std::size_t{256} * 1024;
  // Whether each window carries the Adler-32 of its target.
  bool checksum = true;
  // How many earlier occurrences of a 4-byte string are tried as COPY
  // sources at each position, in the old file and in the target each.
  int searchDepth = 48;
};

// Encodes `target` as a delta against `source`. Returns false with *error
// when the two cannot be addressed by one window (source size plus window
// size at 4 GB or more) or the options are out of range.
bool Encode(const std::vector<std::uint8_t>& source, const std::vector<std::uint8_t>& target,
            std::vector<std::uint8_t>* delta, std::string* error, const EncodeOptions& options = {});

}  // namespace vcdiff

#endif
