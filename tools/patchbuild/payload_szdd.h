// The SZDD compressed-file format that the installer's LZ expansion library
// reads (method "A": LZSS over a 4096-byte window). The payload builder packs
// the payload files with it.
//
//   0   8  signature "SZDD" 0x88 0xF0 0x27 0x33
//   8   1  method, 'A'
//   9   1  the last character of the expanded file's name
//   10  4  expanded size, little-endian
//   14     compressed data: groups of one flag byte (bit 0 first, 1 = a
//          literal byte follows, 0 = a two-byte match follows) and up to
//          eight items. A match is the window position (12 bits) and the
//          length less 3 (4 bits): low byte of the position, then the
//          position's high nibble in the upper four bits. The window starts
//          filled with blanks and the first byte goes to position 4080;
//          the reader copies a match byte by byte, taking each byte before
//          it writes one.
#ifndef PATCHBUILD_PAYLOAD_SZDD_H
#define PATCHBUILD_PAYLOAD_SZDD_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace patchbuild {

constexpr std::size_t kSzddHeaderSize = 14;
constexpr std::uint8_t kSzddSignature[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr std::uint8_t kSzddMethodA = 'A';
constexpr std::size_t kSzddWindow = 4096;
constexpr std::size_t kSzddStartPosition = kSzddWindow - 16;
constexpr std::size_t kSzddMinMatch = 3;
constexpr std::size_t kSzddMaxMatch = 18;

// The whole compressed file for `data`, whose expanded name ends in
// `lastCharacter`: the smallest the format allows for it. Files of 4 GiB or
// more cannot be described by the header.
std::vector<std::uint8_t> SzddCompress(const std::vector<std::uint8_t>& data, char lastCharacter);

struct SzddHeader {
  std::uint8_t method = 0;
  char lastCharacter = 0;
  std::uint32_t expandedSize = 0;
};

// The header of a file that begins with the SZDD signature, or nullopt.
std::optional<SzddHeader> ReadSzddHeader(const std::vector<std::uint8_t>& file);

}  // namespace patchbuild

#endif
