#include "pe_version.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace patchbuild {

namespace {

// Bounds-checked little-endian reads; every offset comes from the file.
struct Reader {
  const std::vector<std::uint8_t>& bytes;
  bool Has(std::size_t offset, std::size_t size) const {
    return offset <= bytes.size() && size <= bytes.size() - offset;
  }
  std::uint32_t U16(std::size_t o) const { return bytes[o] | bytes[o + 1] << 8; }
  std::uint32_t U32(std::size_t o) const {
    return U16(o) | static_cast<std::uint32_t>(U16(o + 2)) << 16;
  }
};

constexpr std::uint32_t kVersionResourceType = 16;

// Finds the data of the first resource of `type` (first name, first
// language). Returns its file offset and size.
std::optional<std::pair<std::size_t, std::size_t>> FindResource(const Reader& r, std::uint32_t type) {
  if (!r.Has(0, 0x40) || r.U16(0) != 0x5A4D) return std::nullopt;  // "MZ"
  const std::size_t pe = r.U32(0x3C);
  if (!r.Has(pe, 24) || r.U32(pe) != 0x00004550) return std::nullopt;  // "PE\0\0"
  const std::size_t sections = r.U16(pe + 6);
  const std::size_t optionalSize = r.U16(pe + 20);
  const std::size_t optional = pe + 24;
  if (!r.Has(optional, optionalSize) || optionalSize < 2) return std::nullopt;
  const bool pe32plus = r.U16(optional) == 0x20B;
  const std::size_t directories = optional + (pe32plus ? 112 : 96);
  if (!r.Has(directories + 2 * 8, 8)) return std::nullopt;
  const std::uint32_t resourceRva = r.U32(directories + 2 * 8);
  if (resourceRva == 0) return std::nullopt;

  const std::size_t table = optional + optionalSize;
  auto toOffset = [&](std::uint32_t rva) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < sections; ++i) {
      const std::size_t s = table + i * 40;
      if (!r.Has(s, 40)) return std::nullopt;
      const std::uint32_t va = r.U32(s + 12), vsize = r.U32(s + 8), raw = r.U32(s + 20),
                          rawSize = r.U32(s + 16);
      const std::uint32_t span = vsize > rawSize ? vsize : rawSize;
      if (rva >= va && rva - va < span) return raw + (rva - va);
    }
    return std::nullopt;
  };
  const auto root = toOffset(resourceRva);
  if (!root) return std::nullopt;

  // Directory entries: id or name, then data or subdirectory (high bit).
  auto entry = [&](std::size_t dir, std::optional<std::uint32_t> id) -> std::optional<std::uint32_t> {
    if (!r.Has(dir, 16)) return std::nullopt;
    const std::size_t count = r.U16(dir + 12) + r.U16(dir + 14);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t e = dir + 16 + i * 8;
      if (!r.Has(e, 8)) return std::nullopt;
      if (!id || r.U32(e) == *id) return r.U32(e + 4);
    }
    return std::nullopt;
  };
  const auto types = entry(*root, type);
  if (!types || !(*types & 0x80000000u)) return std::nullopt;
  const auto names = entry(*root + (*types & 0x7FFFFFFFu), std::nullopt);
  if (!names || !(*names & 0x80000000u)) return std::nullopt;
  const auto languages = entry(*root + (*names & 0x7FFFFFFFu), std::nullopt);
  if (!languages || (*languages & 0x80000000u)) return std::nullopt;
  const std::size_t dataEntry = *root + *languages;
  if (!r.Has(dataEntry, 16)) return std::nullopt;
  const auto data = toOffset(r.U32(dataEntry));
  const std::size_t size = r.U32(dataEntry + 4);
  if (!data || !r.Has(*data, size)) return std::nullopt;
  return std::make_pair(*data, size);
}

// One node of a VS_VERSIONINFO tree: wLength, wValueLength, wType, key
// (UTF-16, NUL-terminated), padding to 4, value, padding, children.
struct Node {
  std::size_t start = 0, end = 0;
  std::string key;
  std::size_t value = 0, valueLength = 0;  // valueLength in bytes
  std::size_t children = 0;
};

std::size_t Align4(std::size_t x) { return (x + 3) & ~static_cast<std::size_t>(3); }

std::optional<Node> ReadNode(const Reader& r, std::size_t at, std::size_t limit) {
  if (at + 6 > limit || !r.Has(at, 6)) return std::nullopt;
  Node n;
  n.start = at;
  const std::size_t length = r.U16(at);
  if (length < 6 || at + length > limit) return std::nullopt;
  n.end = at + length;
  const std::size_t valueUnits = r.U16(at + 2);
  const bool text = r.U16(at + 4) == 1;
  std::size_t p = at + 6;
  for (;;) {
    if (p + 2 > n.end) return std::nullopt;
    const std::uint32_t c = r.U16(p);
    p += 2;
    if (c == 0) break;
    n.key += c < 0x80 ? static_cast<char>(c) : '?';
  }
  n.value = Align4(p);
  n.valueLength = text ? valueUnits * 2 : valueUnits;
  if (n.value + n.valueLength > n.end) n.valueLength = n.end > n.value ? n.end - n.value : 0;
  n.children = Align4(n.value + n.valueLength);
  return n;
}

std::vector<Node> Children(const Reader& r, const Node& parent) {
  std::vector<Node> out;
  std::size_t p = parent.children;
  while (p < parent.end) {
    auto child = ReadNode(r, p, parent.end);
    if (!child) break;
    out.push_back(*child);
    p = Align4(child->end);
  }
  return out;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

const Node* Child(const std::vector<Node>& nodes, const std::string& key) {
  for (const Node& n : nodes)
    if (SameText(n.key, key)) return &n;
  return nullptr;
}

}  // namespace

std::optional<std::string> VersionString(const std::vector<std::uint8_t>& image, const std::string& name) {
  const Reader r{image};
  const auto resource = FindResource(r, kVersionResourceType);
  if (!resource) return std::nullopt;
  const auto root = ReadNode(r, resource->first, resource->first + resource->second);
  if (!root) return std::nullopt;
  const auto top = Children(r, *root);

  const Node* varInfo = Child(top, "VarFileInfo");
  if (!varInfo) return std::nullopt;
  const auto vars = Children(r, *varInfo);
  const Node* translation = Child(vars, "Translation");
  if (!translation || translation->valueLength < 4) return std::nullopt;
  char block[9];
  std::snprintf(block, sizeof block, "%04x%04x", r.U16(translation->value),
                r.U16(translation->value + 2));

  const Node* stringInfo = Child(top, "StringFileInfo");
  if (!stringInfo) return std::nullopt;
  const auto tables = Children(r, *stringInfo);
  const Node* table = Child(tables, block);
  if (!table) return std::nullopt;
  const auto strings = Children(r, *table);
  const Node* value = Child(strings, name);
  if (!value) return std::nullopt;
  std::string text;
  for (std::size_t p = value->value; p + 2 <= value->value + value->valueLength; p += 2) {
    const std::uint32_t c = r.U16(p);
    if (c == 0) break;
    text += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return text;
}

std::optional<std::string> FileVersionString(const std::filesystem::path& path, const std::string& name) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), {}};
  return VersionString(image, name);
}

}  // namespace patchbuild
