#include "patch_data_writer.h"

#include <algorithm>

#include "diff_delta.h"
#include "diff_delta_encode.h"
#include "formats/crc32.h"
#include "patch_data.h"
#include "vcdiff.h"
#include "vcdiff_encode.h"

namespace patchbuild {
namespace {

void PutLe16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void PutLe32(std::string& out, std::uint32_t value) {
  PutLe16(out, value & 0xFFFF);
  PutLe16(out, value >> 16);
}

void SetLe32(std::string& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

DWORD CrcOf(const std::vector<std::uint8_t>& bytes) {
  return Crc32(bytes.data(), static_cast<DWORD>(bytes.size()));
}

}  // namespace

bool EncodePatchData(const std::vector<PatchDataFile>& files, std::string* out, std::string* error) {
  if (files.size() > 0xFFFF) {
    *error = "more than 65535 files";
    return false;
  }
  std::string data;
  data += static_cast<char>(PATCH_DATA_SIGNATURE_0);
  data += static_cast<char>(PATCH_DATA_SIGNATURE_1);
  data += static_cast<char>(PATCH_DATA_SIGNATURE_2);
  data += static_cast<char>(PATCH_DATA_SIGNATURE_3);
  const bool vcdiffOnly = std::all_of(files.begin(), files.end(),
                                      [](const PatchDataFile& f) { return f.kind == PATCH_DELTA_VCDIFF; });
  PutLe16(data, vcdiffOnly ? PATCH_DATA_VERSION_VCDIFF : PATCH_DATA_VERSION);
  PutLe16(data, static_cast<std::uint32_t>(files.size()));
  PutLe32(data, 0);  // the CRC, filled in below
  for (const PatchDataFile& file : files) {
    if (!PatchNameIsValid(file.name.c_str(), static_cast<DWORD>(file.name.size())) ||
        file.name.size() != std::char_traits<char>::length(file.name.c_str())) {
      *error = file.name + ": not a name the patcher accepts (printable ASCII, no path, at most " +
               std::to_string(PATCH_NAME_MAX) + " characters, not ending in '.', ' ' or '~')";
      return false;
    }
    if (file.kind < 0 || file.kind >= PATCH_DELTA_KINDS) {
      *error = file.name + ": unknown kind of delta " + std::to_string(file.kind);
      return false;
    }
    const std::uint64_t limit = 0xFFFFFFFFull;
    if (file.oldBytes.size() >= limit || file.newBytes.size() >= limit || file.delta.size() >= limit ||
        data.size() + PATCH_ENTRY_FIXED_SIZE + file.name.size() + file.delta.size() >= limit) {
      *error = file.name + ": too large for patch data";
      return false;
    }
    PutLe32(data, static_cast<std::uint32_t>(file.oldBytes.size()));
    PutLe32(data, CrcOf(file.oldBytes));
    PutLe32(data, static_cast<std::uint32_t>(file.newBytes.size()));
    PutLe32(data, CrcOf(file.newBytes));
    PutLe32(data, static_cast<std::uint32_t>(file.delta.size()));
    PutLe16(data, static_cast<std::uint32_t>(file.name.size()));
    PutLe16(data, static_cast<std::uint32_t>(file.kind));
    data += file.name;
    data.append(file.delta.begin(), file.delta.end());
  }
  SetLe32(data, PATCH_HEADER_CRC,
          Crc32(reinterpret_cast<const BYTE*>(data.data()) + PATCH_HEADER_SIZE,
                static_cast<DWORD>(data.size() - PATCH_HEADER_SIZE)));
  *out = std::move(data);
  return true;
}

bool CheckDelta(const PatchDataFile& file, std::string* error) {
  const std::uint64_t limit = 0xFFFFFFFFull;
  if (file.oldBytes.size() >= limit || file.newBytes.size() >= limit || file.delta.size() >= limit) {
    *error = file.name + ": too large for patch data";
    return false;
  }
  // One byte more than the new file, so that a delta making too much is
  // told apart from one making the right amount.
  std::vector<BYTE> decoded(file.newBytes.size() + 1);
  DWORD size = 0;
  const auto oldSize = static_cast<DWORD>(file.oldBytes.size());
  const auto deltaSize = static_cast<DWORD>(file.delta.size());
  const auto room = static_cast<DWORD>(decoded.size());
  const bool difference = file.kind == PATCH_DELTA_DIFFERENCE;
  const int result =
      difference
          ? DiffDeltaDecode(file.oldBytes.data(), oldSize, file.delta.data(), deltaSize, decoded.data(), room, &size)
          : VcdiffDecode(file.oldBytes.data(), oldSize, file.delta.data(), deltaSize, decoded.data(), room, &size);
  if (result != 0) {  // DIFFDELTA_OK and VCDIFF_OK alike
    *error = file.name + ": the patcher cannot apply its delta: " +
             (difference ? DiffDeltaResultText(result) : VcdiffResultText(result));
    return false;
  }
  if (size != file.newBytes.size() || !std::equal(file.newBytes.begin(), file.newBytes.end(), decoded.begin())) {
    *error = file.name + ": its delta does not make the new version";
    return false;
  }
  return true;
}

// The difference delta's encoder sorts every suffix of the old file, which
// takes seconds a megabyte and 24 bytes of memory a byte; past this VCDIFF
// alone is made, which a file of that size is usually patched well with.
constexpr std::size_t kLargestDifferenceSource = std::size_t{16} << 20;

bool MakeDelta(PatchDataFile* file, std::string* error) {
  PatchDataFile vcdiffForm = *file;
  vcdiffForm.kind = PATCH_DELTA_VCDIFF;
  if (!vcdiff::Encode(file->oldBytes, file->newBytes, &vcdiffForm.delta, error)) {
    *error = file->name + ": " + *error;
    return false;
  }
  if (!CheckDelta(vcdiffForm, error)) return false;
  if (file->oldBytes.size() > kLargestDifferenceSource) {
    *file = std::move(vcdiffForm);
    return true;
  }
  PatchDataFile differenceForm = *file;
  differenceForm.kind = PATCH_DELTA_DIFFERENCE;
  if (!diffdelta::Encode(file->oldBytes, file->newBytes, &differenceForm.delta, error)) {
    *error = file->name + ": " + *error;
    return false;
  }
  if (!CheckDelta(differenceForm, error)) return false;
  const bool smaller = differenceForm.delta.size() < vcdiffForm.delta.size();
  *file = std::move(smaller ? differenceForm : vcdiffForm);
  return true;
}

}  // namespace patchbuild
