#include "formats/checksum.h"

#include <array>
#include <fstream>
#include <iterator>
#include <string>

namespace formats {

namespace {

std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t v = i;
    for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
    table[i] = v;
  }
  return table;
}

const std::array<std::uint32_t, 256>& Table() {
  static const std::array<std::uint32_t, 256> table = MakeTable();
  return table;
}

}  // namespace

std::uint32_t ChecksumTableEntry(std::uint8_t index) { return Table()[index]; }

std::uint32_t ChecksumBytes(const std::uint8_t* bytes, std::size_t count, std::uint32_t value) {
  const auto& t = Table();
  for (std::size_t i = 0; i < count; ++i) value ^= t[(value ^ bytes[i]) & 0xFF];
  return value;
}

std::uint32_t ChecksumBytes(const std::vector<std::uint8_t>& bytes) {
  return ChecksumBytes(bytes.data(), bytes.size(), 0);
}

std::optional<std::uint32_t> FileChecksum(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::uint32_t value = 0;
  char buffer[4096];
  while (in) {
    in.read(buffer, sizeof buffer);
    value = ChecksumBytes(reinterpret_cast<const std::uint8_t*>(buffer),
                          static_cast<std::size_t>(in.gcount()), value);
  }
  if (in.bad()) return std::nullopt;
  return value;
}

bool AppendChecksumByte(std::vector<std::uint8_t>& bytes, std::uint32_t target, std::string* why) {
  const std::uint32_t value = ChecksumBytes(bytes);
  for (int candidate = 0; candidate < 256; ++candidate) {
    const std::uint8_t b = static_cast<std::uint8_t>(candidate);
    if (ChecksumBytes(&b, 1, value) == target) {
      bytes.push_back(b);
      return true;
    }
  }
  if (why) *why = "no byte gives checksum " + std::to_string(target) + ": it is not an entry of the table";
  return false;
}

}  // namespace formats
