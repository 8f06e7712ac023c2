#include "payload_szdd.h"

#include <algorithm>
#include <stdexcept>

namespace patchbuild {

namespace {

constexpr std::size_t kHashSize = 1u << 14;  // Hash3 gives 14 bits
constexpr int kMaxChain = 512;  // candidates tried per position
constexpr int kNone = -1;

std::size_t Hash3(const std::uint8_t* p) {
  const std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
  return (v * 2654435761u) >> (32 - 14);
}

// Collects one flag byte and its items, and flushes them as a group.
class GroupWriter {
 public:
  explicit GroupWriter(std::vector<std::uint8_t>& out) : out_(out) {}
  void Literal(std::uint8_t b) {
    flags_ |= static_cast<std::uint8_t>(1u << count_);
    items_[used_++] = b;
    Next();
  }
  void Match(std::size_t position, std::size_t length) {
    items_[used_++] = static_cast<std::uint8_t>(position & 0xFF);
    items_[used_++] = static_cast<std::uint8_t>(((position >> 4) & 0xF0) | (length - kSzddMinMatch));
    Next();
  }
  void Finish() {
    if (count_ > 0) Flush();
  }

 private:
  void Next() {
    if (++count_ == 8) Flush();
  }
  void Flush() {
    out_.push_back(flags_);
    out_.insert(out_.end(), items_, items_ + used_);
    flags_ = 0;
    count_ = 0;
    used_ = 0;
  }
  std::vector<std::uint8_t>& out_;
  std::uint8_t flags_ = 0;
  std::uint8_t items_[16] = {};
  int count_ = 0;
  std::size_t used_ = 0;
};

}  // namespace

std::vector<std::uint8_t> SzddCompress(const std::vector<std::uint8_t>& data, char lastCharacter) {
  if (data.size() > 0xFFFFFFFFull) throw std::length_error("a file of 4 GiB or more cannot be packed");
  std::vector<std::uint8_t> out(kSzddSignature, kSzddSignature + 8);
  const auto size = static_cast<std::uint32_t>(data.size());
  out.push_back(kSzddMethodA);
  out.push_back(static_cast<std::uint8_t>(lastCharacter));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(size >> (8 * i)));

  // Matches refer only to bytes of the file itself, at most a window less
  // one back, so that no decoder sees its source overwritten mid-copy
  // except where the match overlaps its own output, which every decoder
  // copies byte by byte.
  std::vector<int> head(kHashSize, kNone);
  std::vector<int> prev(data.size(), kNone);
  auto insert = [&](std::size_t i) {
    if (i + kSzddMinMatch > data.size()) return;
    const std::size_t h = Hash3(&data[i]);
    prev[i] = head[h];
    head[h] = static_cast<int>(i);
  };

  GroupWriter writer(out);
  std::size_t i = 0;
  while (i < data.size()) {
    std::size_t bestLength = 0, bestFrom = 0;
    const std::size_t limit = std::min(kSzddMaxMatch, data.size() - i);
    if (limit >= kSzddMinMatch) {
      int candidate = head[Hash3(&data[i])];
      for (int tries = 0; candidate != kNone && tries < kMaxChain; ++tries, candidate = prev[candidate]) {
        const auto from = static_cast<std::size_t>(candidate);
        if (i - from >= kSzddWindow) break;
        std::size_t n = 0;
        while (n < limit && data[from + n] == data[i + n]) ++n;
        if (n > bestLength) {
          bestLength = n;
          bestFrom = from;
          if (n == limit) break;
        }
      }
    }
    if (bestLength >= kSzddMinMatch) {
      writer.Match((kSzddStartPosition + bestFrom) & (kSzddWindow - 1), bestLength);
      for (std::size_t k = 0; k < bestLength; ++k) insert(i + k);
      i += bestLength;
    } else {
      writer.Literal(data[i]);
      insert(i);
      ++i;
    }
  }
  writer.Finish();
  return out;
}

std::optional<SzddHeader> ReadSzddHeader(const std::vector<std::uint8_t>& file) {
  if (file.size() < kSzddHeaderSize || !std::equal(kSzddSignature, kSzddSignature + 8, file.begin()))
    return std::nullopt;
  SzddHeader h;
  h.method = file[8];
  h.lastCharacter = static_cast<char>(file[9]);
  for (int i = 0; i < 4; ++i) h.expandedSize |= static_cast<std::uint32_t>(file[10 + i]) << (8 * i);
  return h;
}

}  // namespace patchbuild
