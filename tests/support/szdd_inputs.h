// Inputs that take the SZDD packer to the edges of its format: bytes that
// repeat nothing, repeats at the window's reach and across its end, and
// bytes where matches of every length abound. Shared by the packer's tests
// against libmspack and against Wine's LZ expansion.
#ifndef WF_TESTS_SZDD_INPUTS_H
#define WF_TESTS_SZDD_INPUTS_H

#include <cstddef>
#include <cstdint>
#include <vector>

// `n` bytes of a fixed pseudo-random sequence, which repeats no three bytes
// but by chance.
inline std::vector<std::uint8_t> Noise(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return v;
}

// `v` followed by itself.
inline std::vector<std::uint8_t> Twice(std::vector<std::uint8_t> v) {
  const std::size_t n = v.size();
  v.insert(v.end(), v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
  return v;
}

// Eight bytes, eighteen, four, and the eighteen again: packed as 30
// literals and one match, whose source, the file's bytes 8 to 25, lies at
// window positions 4088 to 4095 and 0 to 9.
inline std::vector<std::uint8_t> AcrossTheWindowEnd() {
  const std::vector<std::uint8_t> repeated = Noise(18, 13);
  std::vector<std::uint8_t> v = Noise(8, 17);
  v.insert(v.end(), repeated.begin(), repeated.end());
  const std::vector<std::uint8_t> gap = Noise(4, 19);
  v.insert(v.end(), gap.begin(), gap.end());
  v.insert(v.end(), repeated.begin(), repeated.end());
  return v;
}

// Bytes over three letters and the blank, where matches of every length
// abound.
inline std::vector<std::uint8_t> FewLetters(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v = Noise(n, seed);
  for (auto& b : v) b = static_cast<std::uint8_t>(" abc"[b % 4]);
  return v;
}

#endif
