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

std::string WriteManifestRc(const Description& d, std::uint32_t checksum) {
  std::map<int, std::string> strings;
  strings[100] = d.versionCheck.value;
  strings[101] = d.expectedVersion.value;
  strings[102] = ChecksumString(checksum);
  for (const auto& [base, block] : d.blocks) {
    strings[base] = block.countText;
    int id = base + 1;
    for (const Entry& e : block.entries) {
      if (base == kBlockPayload) {
        strings[id] = e.stored;
        strings[kBlockExpanded + (id - base)] = e.name;
      } else {
        strings[id] = e.name;
      }
      ++id;
    }
    for (const Extra& x : block.extras) {
      strings[id] = x.text;
      if (base == kBlockPayload) strings[kBlockExpanded + (id - base)] = x.expandedText;
      ++id;
    }
  }
  if (d.patcher.Given()) strings[7000] = d.patcher.value;
  if (d.patcherData.Given()) strings[7001] = d.patcherData.value;
  strings[8000] = d.registryName.value;

  std::string out;
  out += "// The manifest of the " + d.productName.value + " patch, written by patchbuild from\n";
  out += "// " + std::filesystem::path(d.file).filename().string() + ". Edit the description, not this file.\n";
  out += "STRINGTABLE\nLANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\nBEGIN\n";
  for (const auto& [id, text] : strings) out += "    " + std::to_string(id) + " " + RcQuote(text) + "\n";
  out += "END\n";
  return out;
}

}  // namespace patchbuild
