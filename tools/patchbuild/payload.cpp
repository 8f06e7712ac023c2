#include "payload.h"

#include <algorithm>
#include <cstdio>

#include "payload_szdd.h"

namespace fs = std::filesystem;

namespace patchbuild {

std::vector<PayloadItem> PlanPayload(const Description& d, const PayloadSource& source, const fs::path& packedDir,
                                     std::vector<std::string>& errors) {
  std::vector<PayloadItem> items;
  int id = ID_PAYLOAD_BASE;
  for (const Entry& e : d.EntriesOf(BLOCK_PAYLOAD)) {
    PayloadItem item;
    item.resourceId = ++id;
    item.stored = e.stored;
    item.expanded = e.name;
    item.plain = e.plain;
    item.packed = packedDir / e.stored;
    if (const auto found = source(e.name)) {
      item.source = *found;
    } else {
      errors.push_back("payload entry " + std::to_string(id - ID_PAYLOAD_BASE) + " \"" + e.name +
                       "\": no file to carry");
    }
    items.push_back(item);
  }
  return items;
}

std::optional<std::vector<std::uint8_t>> PackPayload(const PayloadItem& item, const std::vector<std::uint8_t>& content,
                                                     std::string* error) {
  if (item.plain) {
    if (ReadSzddHeader(content)) {
      *error = item.source.string() + " begins with the SZDD signature; stored plain, the installer would expand it";
      return std::nullopt;
    }
    return content;
  }
  if (item.expanded.empty()) {
    *error = "payload entry " + std::to_string(item.resourceId) + " has no expanded name";
    return std::nullopt;
  }
  if (content.size() > 0xFFFFFFFFull) {
    *error = item.source.string() + " is too large for the SZDD header's 32-bit size";
    return std::nullopt;
  }
  return SzddCompress(content, item.expanded.back());
}

namespace {

// windres reads a quoted file name with C escapes; forward slashes need none.
std::string RcFileName(const fs::path& path) {
  std::string out = "\"";
  for (char c : path.generic_string()) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string WritePayloadRc(const std::vector<PayloadItem>& items, const fs::path& pifTemplate, std::uint64_t digest) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest));
  std::string rc =
      "// The installer's payload (block 1000 of the manifest: resource 100 + k\n"
      "// holds entry k) and its PIF template, written by patchbuild.\n"
      "// Contents digest " + std::string(hex) + "\n";
  for (const PayloadItem& item : items) {
    rc += std::to_string(item.resourceId) + " RCDATA " + RcFileName(item.packed) + "  // " + item.expanded +
          (item.plain ? ", plain, from " : ", SZDD, from ") + item.source.generic_string() + "\n";
  }
  rc += std::to_string(ID_PIF_TEMPLATE) + " RCDATA " + RcFileName(pifTemplate) + "\n";
  return rc;
}

std::uint64_t Fnv1a(const std::vector<std::uint8_t>& bytes, std::uint64_t hash) {
  for (std::uint8_t b : bytes) {
    hash ^= b;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

}  // namespace patchbuild
