#include "payload_szdd.h"

#include <algorithm>
#include <stdexcept>

namespace patchbuild {

namespace {

constexpr std::size_t kHashBits = 14;
constexpr std::size_t kHashSize = std::size_t{1} << kHashBits;
constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// Bits of each item: its flag bit and its bytes.
constexpr std::uint64_t kLiteralBits = 1 + 8;
constexpr std::uint64_t kMatchBits = 1 + 16;

// Blanks put before the file: the window starts filled with blanks, and a
// match may read them. The last kSzddMaxMatch of them stand for all: a
// match that starts further back reads nothing but blanks, as one that
// starts kSzddMaxMatch back from the file does, which is nearer and so in
// the window whenever the other is.
constexpr std::size_t kLead = kSzddMaxMatch;

std::size_t Hash3(const std::uint8_t* p) {
  const std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
  return (v * 2654435761u) >> (32 - kHashBits);
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

// The longest match at each position of the file.
struct Matches {
  std::vector<std::uint8_t> length;   // 0 where none reaches kSzddMinMatch
  std::vector<std::uint16_t> source;  // its window position, when length > 0
};

// Every position's longest match within the window: any of the 4096 bytes
// before it (the reader copies byte by byte, reading each byte before it
// writes one, so a source a whole window back still holds its old byte, and
// a source that overlaps the match's own output repeats it), including the
// blanks the window starts with. The hash chains are walked to the end of
// the window without a bound on the candidates, so each length is the
// longest there is and the parse built on them exactly the smallest. The
// cost is the candidates that share a position's first three bytes: a few
// on programs and text (the sample's payload takes 0.2 s in the Debug build
// with sanitizers), up to 4096 a position on a contrived file (one
// three-byte string again and again, each time followed by another byte).
Matches FindLongestMatches(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> text(kLead + data.size(), ' ');
  std::copy(data.begin(), data.end(), text.begin() + kLead);
  const std::size_t n = text.size();
  std::vector<std::uint32_t> head(kHashSize, kNone);
  std::vector<std::uint32_t> prev(n, kNone);
  auto insert = [&](std::size_t at) {
    if (at + kSzddMinMatch > n) return;
    const std::size_t h = Hash3(&text[at]);
    prev[at] = head[h];
    head[h] = static_cast<std::uint32_t>(at);
  };
  for (std::size_t at = 0; at < kLead; ++at) insert(at);

  Matches m;
  m.length.assign(data.size(), 0);
  m.source.assign(data.size(), 0);
  for (std::size_t at = kLead; at < n; ++at) {
    const std::size_t limit = std::min(kSzddMaxMatch, n - at);
    std::size_t best = 0, bestFrom = 0;
    if (limit >= kSzddMinMatch) {
      for (std::uint32_t c = head[Hash3(&text[at])]; c != kNone; c = prev[c]) {
        const std::size_t from = c;
        if (at - from > kSzddWindow) break;
        // A candidate that cannot beat the best so far differs at its end.
        if (best > 0 && text[from + best] != text[at + best]) continue;
        std::size_t k = 0;
        while (k < limit && text[from + k] == text[at + k]) ++k;
        if (k > best) {
          best = k;
          bestFrom = from;
          if (k == limit) break;
        }
      }
    }
    const std::size_t i = at - kLead;
    if (best >= kSzddMinMatch) {
      m.length[i] = static_cast<std::uint8_t>(best);
      // The byte at file offset s sits at window position kSzddStartPosition + s;
      // the blanks before the file at the positions just below it.
      m.source[i] = static_cast<std::uint16_t>((kSzddStartPosition + bestFrom - kLead) & (kSzddWindow - 1));
    }
    insert(at);
  }
  return m;
}

}  // namespace

std::vector<std::uint8_t> SzddCompress(const std::vector<std::uint8_t>& data, char lastCharacter) {
  if (data.size() > 0xFFFFFFFFull - kLead) throw std::length_error("a file of 4 GiB or more cannot be packed");
  std::vector<std::uint8_t> out(kSzddSignature, kSzddSignature + 8);
  const auto size = static_cast<std::uint32_t>(data.size());
  out.push_back(kSzddMethodA);
  out.push_back(static_cast<std::uint8_t>(lastCharacter));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(size >> (8 * i)));

  // The smallest encoding: a literal costs 9 bits and a match 17, whatever
  // its position and length, and the packed size is the bit count rounded
  // up to whole bytes (each flag byte's bits and its items' bytes), so the
  // cheapest path through the positions, taking at each one a literal or a
  // match of any length from 3 to the longest there, is the smallest file.
  // bits[i]: the fewest bits that encode the file from offset i to its end.
  const Matches m = FindLongestMatches(data);
  const std::size_t n = data.size();
  std::vector<std::uint64_t> bits(n + 1, 0);
  std::vector<std::uint8_t> take(n, 1);  // the step from i: 1, a literal, or a match length
  for (std::size_t i = n; i-- > 0;) {
    bits[i] = kLiteralBits + bits[i + 1];
    take[i] = 1;
    for (std::size_t len = kSzddMinMatch; len <= m.length[i]; ++len) {
      const std::uint64_t viaMatch = kMatchBits + bits[i + len];
      if (viaMatch < bits[i]) {
        bits[i] = viaMatch;
        take[i] = static_cast<std::uint8_t>(len);
      }
    }
  }

  GroupWriter writer(out);
  for (std::size_t i = 0; i < n; i += take[i]) {
    if (take[i] == 1) {
      writer.Literal(data[i]);
    } else {
      writer.Match(m.source[i], take[i]);
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
