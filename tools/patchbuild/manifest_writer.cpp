#include "manifest_writer.h"

#include <filesystem>
#include <map>

namespace patchbuild {

std::string ChecksumString(std::uint32_t checksum) {
  return std::to_string(checksum) + " Checksum for Version check file in decimal";
}

std::string RcQuote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += "\"\"";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out + "\"";
}

std::map<int, std::string> ManifestStrings(const Description& d) {
  std::map<int, std::string> strings;
  strings[STR_VERSION_FILE] = d.versionCheck.value;
  strings[STR_EXPECTED_VERSION] = d.expectedVersion.value;
  if (d.expectedChecksum.Given())
    strings[STR_EXPECTED_CHECKSUM] = ChecksumString(static_cast<std::uint32_t>(std::stoull(d.expectedChecksum.value)));
  for (const auto& [base, block] : d.blocks) {
    strings[base] = block.countText;
    int id = base + 1;  // entry k is base + k
    for (const Entry& e : block.entries) {
      if (base == BLOCK_PAYLOAD) {
        strings[id] = e.stored;
        strings[BLOCK_EXPANDED_NAMES + (id - base)] = e.name;
      } else {
        strings[id] = e.name;
      }
      ++id;
    }
    for (const Extra& x : block.extras) {
      strings[id] = x.text;
      if (base == BLOCK_PAYLOAD) strings[BLOCK_EXPANDED_NAMES + (id - base)] = x.expandedText;
      ++id;
    }
  }
  if (d.patcher.Given()) strings[STR_PATCHER_PROGRAM] = d.patcher.value;
  if (d.patcherData.Given()) strings[STR_PATCHER_ARGUMENT] = d.patcherData.value;
  strings[STR_PRODUCT_NAME] = d.registryName.value;
  return strings;
}

std::string WriteManifestRc(const Description& d) {
  std::string out;
  out += "// The manifest of the " + d.productName.value + " patch, written by patchbuild from\n";
  out += "// " + std::filesystem::path(d.file).filename().string() + ". Edit the description, not this file.\n";
  out += "STRINGTABLE\nLANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\nBEGIN\n";
  for (const auto& [id, text] : ManifestStrings(d)) out += "    " + std::to_string(id) + " " + RcQuote(text) + "\n";
  out += "END\n";
  return out;
}

}  // namespace patchbuild
