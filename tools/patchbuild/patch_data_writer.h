// Writing patch.rtp, the data of the external patcher (patch.exe): for each
// installed file the patch changes, its name, the old and new sizes and
// CRC-32s, and a delta: VCDIFF (delta/vcdiff_encode.h) or the difference
// delta (delta/diff_delta_encode.h), whichever is smaller.
// The layout is defined by delta/patch_data.h, which the
// patcher reads with.
#ifndef PATCHBUILD_PATCH_DATA_WRITER_H
#define PATCHBUILD_PATCH_DATA_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace patchbuild {

struct PatchDataFile {
  std::string name;  // bare file name, as the patcher finds it in its directory
  std::vector<std::uint8_t> oldBytes, newBytes;
  std::vector<std::uint8_t> delta;  // turns oldBytes into newBytes
  int kind = 0;                     // of the delta: a PatchDeltaKind (delta/patch_data.h)
};

// Serialises the files in order, as format version 1 when every delta is
// VCDIFF (any patcher reads it), else version 2. Returns false with *error naming the file
// when a name cannot be in patch data, a file or delta is 4 GB or more, or
// there are more entries than the header can count.
bool EncodePatchData(const std::vector<PatchDataFile>& files, std::string* out, std::string* error);

// Decodes file.delta against file.oldBytes with the patcher's own decoder
// of its kind. Returns false with *error unless that gives file.newBytes
// exactly: the builder checks every delta this way before it writes
// patch.rtp.
bool CheckDelta(const PatchDataFile& file, std::string* error);

// The smallest delta of file.oldBytes to file.newBytes into file.delta and
// file.kind: the difference delta where it is smaller than VCDIFF (tried
// for old files up to 16 MB), each checked with CheckDelta. Returns false with *error when neither can be
// made or checked.
bool MakeDelta(PatchDataFile* file, std::string* error);

}  // namespace patchbuild

#endif
