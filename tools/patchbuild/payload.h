// The installer's payload: the files of block 1000, packed as raw-data
// resources 101 onward (resource 100 + k holds entry k), and the resource
// script that names them. An entry marked "plain" is stored as it is; every
// other entry is packed in the SZDD format (payload_szdd.h) so that the LZ
// expansion library turns it back into the file under its expanded name.
// The installer tells the two apart by content alone, so a plain file must
// not itself begin with the SZDD signature.
#ifndef PATCHBUILD_PAYLOAD_H
#define PATCHBUILD_PAYLOAD_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "description.h"

namespace patchbuild {

struct PayloadItem {
  int resourceId = 0;
  std::string stored;    // the name the installer writes the resource under
  std::string expanded;  // the name it expands to
  bool plain = false;
  std::filesystem::path source;  // the file the entry carries
  std::filesystem::path packed;  // the file the resource script names
};

// Where the file of an expanded name comes from, or nullopt if there is none.
using PayloadSource = std::function<std::optional<std::filesystem::path>(const std::string& expandedName)>;

// One item per entry of block 1000, in manifest order, packed into
// `packedDir` under its stored name. Appends one message per entry whose
// file cannot be found.
std::vector<PayloadItem> PlanPayload(const Description& d, const PayloadSource& source,
                                     const std::filesystem::path& packedDir, std::vector<std::string>& errors);

// The resource bytes of an item made from `content`: the content itself for
// a plain entry, else its SZDD form. Empty with `error` set when the entry
// cannot be carried as asked.
std::optional<std::vector<std::uint8_t>> PackPayload(const PayloadItem& item, const std::vector<std::uint8_t>& content,
                                                     std::string* error);

// The resource script: one RCDATA line per item and one for the PIF
// template. `digest` goes into a comment, so that the script changes
// whenever a file it names does and whatever compiles it runs again.
std::string WritePayloadRc(const std::vector<PayloadItem>& items, const std::filesystem::path& pifTemplate,
                           std::uint64_t digest);

// FNV-1a over `bytes`, continuing from `hash`.
std::uint64_t Fnv1a(const std::vector<std::uint8_t>& bytes, std::uint64_t hash = 0xcbf29ce484222325ull);

}  // namespace patchbuild

#endif
