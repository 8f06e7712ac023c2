// Writing patch.rtp, the data of the external patcher (patch.exe): for each
// installed file the patch changes, its name, the old and new sizes and
// CRC-32s, and a VCDIFF delta (made by our own encoder, delta/vcdiff_encode.h).
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
  std::vector<std::uint8_t> delta;  // VCDIFF turning oldBytes into newBytes
};

// Serialises the files in order. Returns false with *error naming the file
// when a name cannot be in patch data, a file or delta is 4 GB or more, or
// there are more entries than the header can count.
bool EncodePatchData(const std::vector<PatchDataFile>& files, std::string* out, std::string* error);

// Decodes file.delta against file.oldBytes with the patcher's own decoder.
// Returns false with *error unless that gives file.newBytes exactly: the
// builder checks every delta this way before it writes patch.rtp.
bool CheckVcdiffDelta(const PatchDataFile& file, std::string* error);

}  // namespace patchbuild

#endif
