// The installer's file checksum: a one-byte state run through the reflected
// CRC-32 table, without CRC-32's shift and inversions. Every result is one
// of the table's 256 entries, so one chosen byte can reach any of them.
// The host's copy, for the builder: the installer keeps its own
// (src/install_check/checksum.cpp), and a test holds the two together.
#ifndef WF_FORMATS_CHECKSUM_H
#define WF_FORMATS_CHECKSUM_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace formats {

// Entry i of the reflected CRC-32 table (polynomial 0xEDB88320).
std::uint32_t ChecksumTableEntry(std::uint8_t index);

// value <- value XOR T[(value XOR byte) AND 0xFF] for each byte, in order.
std::uint32_t ChecksumBytes(const std::uint8_t* bytes, std::size_t count, std::uint32_t value);
std::uint32_t ChecksumBytes(const std::vector<std::uint8_t>& bytes);

// Checksum of a whole file, as the installer computes it; nullopt when the
// file cannot be read.
std::optional<std::uint32_t> FileChecksum(const std::filesystem::path& path);

// Appends the one byte that makes the checksum of `bytes` equal `target`.
// A byte at the end always suffices: whatever the state before it, one of
// the 256 values lands on any table entry. Returns false, bytes unchanged,
// when the target is not a table entry.
bool AppendChecksumByte(std::vector<std::uint8_t>& bytes, std::uint32_t target, std::string* why);

}  // namespace formats

#endif
