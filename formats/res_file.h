// The .res file windres writes (-O res): a list of resources, each a
// header (sizes, type, name, language) and its data, DWORD aligned. winsim
// loads the installer's resources from it; the builder's tests hold their
// encoders against it.
#ifndef FORMATS_RES_FILE_H
#define FORMATS_RES_FILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace formats {

struct ResEntry {
  std::uint16_t type = 0;
  std::uint16_t id = 0;
  std::uint16_t language = 0;
  std::string bytes;
};

// The resources of a .res file with integer type and id, in file order;
// named ones and the leading empty marker are left out. False when the
// file is cut short or a size points outside it.
bool ParseResFile(const std::string& file, std::vector<ResEntry>& out);

// The same, read from `path`; false also when it cannot be read.
bool ReadResFile(const std::string& path, std::vector<ResEntry>& out);

}  // namespace formats

#endif
