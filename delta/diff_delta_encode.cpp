// The difference delta's encoder. See diff_delta_encode.h.
//
//  1. A suffix array of the old file (prefix doubling), so the longest
//     exact match for any position of the new file is a binary search.
//  2. Stretches: from each position the longest exact match is tried; a
//     match that the current stretch's own shift already mostly explains
//     does not start a new stretch. When one does, the current stretch is
//     grown forwards, and the new one backwards, for as long as more than
//     half their bytes agree, and their overlap is split where it counts
//     most; what lies between is the delta's own bytes.
//  3. Repeats: the bytes between stretches are the new file's own; where
//     they repeat earlier bytes of the new file (hash chains of three-byte
//     strings), the longest earlier occurrence, or the last repeat's
//     distance again when that is nearly as long, replaces the literals,
//     unless one byte on a repeat is longer by two bytes or more.
//  4. Coding: each stretch's differences as zero runs and differing bytes,
//     the literals and repeats between, and the old file's moves, through
//     the models and the binary range coder of the decoder (diff_delta.h),
//     which this mirrors bit for bit.
#include "diff_delta_encode.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "diff_delta.h"

namespace diffdelta {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- Suffix array ----------------------------------------------------------

// The suffixes of s[0..n), the empty one (n) first, in order.
std::vector<std::int64_t> SuffixArray(const std::uint8_t* s, std::int64_t n) {
  std::vector<std::int64_t> sa(n + 1), rank(n + 1), next(n + 1);
  for (std::int64_t i = 0; i <= n; ++i) {
    sa[i] = i;
    rank[i] = i < n ? s[i] + 1 : 0;
  }
  for (std::int64_t k = 1;; k <<= 1) {
    auto key = [&](std::int64_t i) { return std::make_pair(rank[i], i + k <= n ? rank[i + k] : -1); };
    std::sort(sa.begin(), sa.end(), [&](std::int64_t a, std::int64_t b) { return key(a) < key(b); });
    next[sa[0]] = 0;
    for (std::int64_t i = 1; i <= n; ++i) next[sa[i]] = next[sa[i - 1]] + (key(sa[i - 1]) < key(sa[i]) ? 1 : 0);
    rank.swap(next);
    if (rank[sa[n]] == n) break;
  }
  return sa;
}

std::int64_t CommonLength(const std::uint8_t* a, std::int64_t aSize, const std::uint8_t* b, std::int64_t bSize) {
  const std::int64_t limit = std::min(aSize, bSize);
  std::int64_t n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// The longest prefix of key[0..keySize) found in old, and where.
std::int64_t LongestMatch(const std::vector<std::int64_t>& sa, const Bytes& old, const std::uint8_t* key,
                          std::int64_t keySize, std::int64_t* pos) {
  const auto oldSize = static_cast<std::int64_t>(old.size());
  std::int64_t st = 0, en = oldSize;
  while (en - st >= 2) {
    const std::int64_t mid = st + (en - st) / 2;
    const std::int64_t n = std::min(oldSize - sa[mid], keySize);
    if (std::memcmp(old.data() + sa[mid], key, static_cast<std::size_t>(n)) < 0)
      st = mid;
    else
      en = mid;
  }
  const std::int64_t x = CommonLength(old.data() + sa[st], oldSize - sa[st], key, keySize);
  const std::int64_t y = CommonLength(old.data() + sa[en], oldSize - sa[en], key, keySize);
  *pos = x > y ? sa[st] : sa[en];
  return std::max(x, y);
}

// ---- Stretches -------------------------------------------------------------

struct Step {
  std::int64_t oldStart, newStart, stretch;  // new[newStart..) = old[oldStart..) + differences
  std::int64_t extra;                        // then this many of the delta's own bytes
};

std::vector<Step> FindSteps(const Bytes& old, const Bytes& neu) {
  const auto oldSize = static_cast<std::int64_t>(old.size());
  const auto newSize = static_cast<std::int64_t>(neu.size());
  const std::vector<std::int64_t> sa = SuffixArray(old.data(), oldSize);
  auto agrees = [&](std::int64_t o, std::int64_t n) { return o >= 0 && o < oldSize && old[o] == neu[n]; };
  std::vector<Step> steps;
  std::int64_t scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
  while (scan < newSize) {
    // The next exact match that the last stretch's shift does not already
    // give for all but 8 of its bytes.
    std::int64_t oldScore = 0;
    std::int64_t scored = scan += len;
    for (; scan < newSize; ++scan) {
      len = LongestMatch(sa, old, neu.data() + scan, newSize - scan, &pos);
      for (; scored < scan + len; ++scored)
        if (agrees(scored + lastOffset, scored)) ++oldScore;
      if ((len == oldScore && len != 0) || len > oldScore + 8) break;
      if (agrees(scan + lastOffset, scan)) --oldScore;
    }
    if (len == oldScore && scan != newSize) continue;

    // The last stretch grown forwards while more than half of it agrees.
    std::int64_t forward = 0;
    for (std::int64_t i = 0, agreeing = 0, best = 0; lastScan + i < scan && lastPos + i < oldSize;) {
      if (old[lastPos + i] == neu[lastScan + i]) ++agreeing;
      ++i;
      if (agreeing * 2 - i > best * 2 - forward) best = agreeing, forward = i;
    }
    // The new match grown backwards the same way.
    std::int64_t backward = 0;
    if (scan < newSize) {
      for (std::int64_t i = 1, agreeing = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
        if (old[pos - i] == neu[scan - i]) ++agreeing;
        if (agreeing * 2 - i > best * 2 - backward) best = agreeing, backward = i;
      }
    }
    // Where they overlap, the split that keeps the most agreeing bytes.
    if (lastScan + forward > scan - backward) {
      const std::int64_t overlap = (lastScan + forward) - (scan - backward);
      std::int64_t score = 0, best = 0, split = 0;
      for (std::int64_t i = 0; i < overlap; ++i) {
        if (neu[lastScan + forward - overlap + i] == old[lastPos + forward - overlap + i]) ++score;
        if (neu[scan - backward + i] == old[pos - backward + i]) --score;
        if (score > best) best = score, split = i + 1;
      }
      forward += split - overlap;
      backward -= split;
    }
    steps.push_back({lastPos, lastScan, forward, (scan - backward) - (lastScan + forward)});
    lastScan = scan - backward;
    lastPos = pos - backward;
    lastOffset = pos - scan;
  }
  return steps;
}

// ---- Repeats -----------------------------------------------------------------

// Earlier positions of the new file by the hash of the three bytes there,
// most recent first.
class RepeatIndex {
 public:
  explicit RepeatIndex(const Bytes& data) : data_(data), head_(std::size_t{1} << kBits, kNone), next_(data.size(), kNone) {}

  // Adds every position before `pos` not yet added.
  void AddUpTo(std::int64_t pos) {
    for (; added_ < pos; ++added_) {
      if (added_ + 3 > static_cast<std::int64_t>(data_.size())) continue;
      const std::uint32_t h = Hash(added_);
      next_[added_] = head_[h];
      head_[h] = static_cast<std::uint32_t>(added_);
    }
  }

  // The longest earlier occurrence of data[pos..end), and its distance.
  std::int64_t Longest(std::int64_t pos, std::int64_t end, std::int64_t* distance) const {
    std::int64_t best = 0;
    if (pos + 3 > end) return 0;
    int depth = kDepth;
    for (std::uint32_t at = head_[Hash(pos)]; at != kNone && depth > 0; at = next_[at], --depth) {
      const std::int64_t n = Common(at, pos, end);
      if (n > best) best = n, *distance = pos - at;
    }
    return best;
  }

  // How many bytes from `pos` (up to `end`) equal those `distance` back.
  std::int64_t Common(std::int64_t from, std::int64_t pos, std::int64_t end) const {
    std::int64_t n = 0;
    while (pos + n < end && data_[from + n] == data_[pos + n]) ++n;
    return n;
  }

 private:
  static constexpr int kBits = 16;
  static constexpr int kDepth = 48;
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  std::uint32_t Hash(std::int64_t pos) const {
    const std::uint32_t v = data_[pos] | data_[pos + 1] << 8 | static_cast<std::uint32_t>(data_[pos + 2]) << 16;
    return (v * 2654435761u) >> (32 - kBits);
  }

  const Bytes& data_;
  std::vector<std::uint32_t> head_, next_;
  std::int64_t added_ = 0;
};

// ---- Range coder -----------------------------------------------------------

class RangeEncoder {
 public:
  explicit RangeEncoder(Bytes* out) : out_(out) {}

  void Bit(DiffDeltaProb* prob, std::uint32_t bit) {
    const std::uint32_t bound = (range_ >> DIFFDELTA_PROB_BITS) * *prob;
    if (bit == 0) {
      range_ = bound;
      *prob = static_cast<DiffDeltaProb>(*prob + ((DIFFDELTA_PROB_ONE - *prob) >> DIFFDELTA_PROB_SHIFT));
    } else {
      low_ += bound;
      range_ -= bound;
      *prob = static_cast<DiffDeltaProb>(*prob - (*prob >> DIFFDELTA_PROB_SHIFT));
    }
    Normalize();
  }

  void EvenBit(std::uint32_t bit) {
    range_ >>= 1;
    if (bit) low_ += range_;
    Normalize();
  }

  void Tree(DiffDeltaProb* tree, int bits, std::uint32_t value) {
    std::uint32_t node = 1;
    for (int i = bits - 1; i >= 0; --i) {
      const std::uint32_t bit = (value >> i) & 1;
      Bit(&tree[node], bit);
      node = (node << 1) | bit;
    }
  }

  void Number(DiffDeltaNumberModel* m, std::uint32_t value) {
    std::uint32_t length = 0;
    while (length < 32 && (value >> length) != 0) ++length;
    Tree(m->length, DIFFDELTA_NUMBER_LENGTH_BITS, length);
    std::uint32_t v = 1;
    for (std::uint32_t i = 1; i < length; ++i) {
      const std::uint32_t bit = (value >> (length - 1 - i)) & 1;
      if (i <= DIFFDELTA_NUMBER_MODELLED)
        Bit(&m->high[length][v], bit);
      else
        EvenBit(bit);
      v = (v << 1) | bit;
    }
  }

  void Finish() {
    for (int i = 0; i < 5; ++i) ShiftLow();
  }

 private:
  void Normalize() {
    while (range_ < (1u << 24)) {
      range_ <<= 8;
      ShiftLow();
    }
  }

  // The byte above the top 24 bits of `low_` goes out once no carry can
  // reach it; a run of 0xFF bytes waits in `pending_` for the carry.
  void ShiftLow() {
    if (static_cast<std::uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
      const auto carry = static_cast<std::uint8_t>(low_ >> 32);
      std::uint8_t byte = cache_;
      do {
        Put(static_cast<std::uint8_t>(byte + carry));
        byte = 0xFF;
      } while (--pending_ != 0);
      cache_ = static_cast<std::uint8_t>(low_ >> 24);
    }
    ++pending_;
    low_ = (low_ & 0x00FFFFFFu) << 8;
  }

  // The first byte out is always 0 (the interval starts inside [0, 2^32)),
  // so it is not stored; the decoder starts with the four after it.
  void Put(std::uint8_t byte) {
    if (first_) {
      first_ = false;
      return;
    }
    out_->push_back(byte);
  }

  Bytes* out_;
  std::uint64_t low_ = 0;
  std::uint32_t range_ = 0xFFFFFFFFu;
  std::uint8_t cache_ = 0;
  std::uint64_t pending_ = 1;
  bool first_ = true;
};

// The delta of `steps`, its literals coded or, with `rawLiterals`, stored
// as they are before the coded stream.
Bytes Code(const Bytes& source, const Bytes& target, const std::vector<Step>& steps, bool rawLiterals) {
  Bytes coded, literals;
  const auto size = static_cast<std::uint32_t>(target.size());
  auto models = std::make_unique<DiffDeltaModels>();
  DiffDeltaResetModels(models.get());
  RangeEncoder rc(&coded);
  RepeatIndex repeats(target);
  std::int64_t lastDistance = 0;
  std::int64_t newPos = 0, oldPos = 0;
  bool first = true;
  for (const Step& step : steps) {
    if (newPos == static_cast<std::int64_t>(size)) break;
    // The decoder starts at the old file's first byte, as the first step does.
    if (!first) {
      const std::int64_t seek = step.oldStart - oldPos;
      rc.Bit(&models->seekSign, seek < 0 ? 1 : 0);
      rc.Number(&models->number[DIFFDELTA_NUM_SEEK], static_cast<std::uint32_t>(seek < 0 ? -seek : seek));
    }
    rc.Number(&models->number[DIFFDELTA_NUM_STRETCH], static_cast<std::uint32_t>(step.stretch));
    std::uint32_t zeros = 0;
    for (std::int64_t i = 0; i < step.stretch; ++i) {
      const auto difference = static_cast<std::uint8_t>(target[step.newStart + i] - source[step.oldStart + i]);
      if (difference == 0) {
        ++zeros;
        continue;
      }
      rc.Number(&models->number[DIFFDELTA_NUM_ZEROS], zeros);
      rc.Tree(models->difference[zeros == 0 ? 1 : 0], 8, difference);
      zeros = 0;
    }
    if (zeros > 0) rc.Number(&models->number[DIFFDELTA_NUM_ZEROS], zeros);
    rc.Number(&models->number[DIFFDELTA_NUM_EXTRA], static_cast<std::uint32_t>(step.extra));
    const std::int64_t end = step.newStart + step.stretch + step.extra;
    std::uint32_t afterRepeat = 0;
    for (std::int64_t at = step.newStart + step.stretch; at < end;) {
      repeats.AddUpTo(at);
      std::int64_t distance = 0;
      std::int64_t length = repeats.Longest(at, end, &distance);
      const std::int64_t same = lastDistance > 0 && lastDistance <= at ? repeats.Common(at - lastDistance, at, end) : 0;
      // A far repeat of three bytes costs about what its literals do.
      if (length == 3 && distance > 4096) length = 0;
      const bool useSame = same >= DIFFDELTA_SHORTEST_REPEAT && same + 1 >= length;
      // A repeat longer by two or more one byte on is worth a literal first.
      if (!useSame && length >= 3 && at + 1 < end) {
        repeats.AddUpTo(at + 1);
        std::int64_t nextDistance = 0;
        if (repeats.Longest(at + 1, end, &nextDistance) > length + 1) length = 0;
      }
      if (!useSame && length < 3) {
        rc.Bit(&models->repeat[afterRepeat], 0);
        const std::uint32_t before = at > 0 ? target[at - 1] : 0;
        if (rawLiterals)
          literals.push_back(target[at]);
        else
          rc.Tree(models->literal[before >> 5], 8, target[at]);
        ++at;
        afterRepeat = 0;
        continue;
      }
      if (useSame) length = same, distance = lastDistance;
      rc.Bit(&models->repeat[afterRepeat], 1);
      rc.Number(&models->number[DIFFDELTA_NUM_LENGTH], static_cast<std::uint32_t>(length - DIFFDELTA_SHORTEST_REPEAT));
      rc.Bit(&models->sameDistance[afterRepeat], useSame ? 1 : 0);
      if (!useSame) rc.Number(&models->number[DIFFDELTA_NUM_DISTANCE], static_cast<std::uint32_t>(distance - 1));
      lastDistance = distance;
      at += length;
      afterRepeat = 1;
    }
    newPos = step.newStart + step.stretch + step.extra;
    oldPos = step.oldStart + step.stretch;
    first = false;
  }
  rc.Finish();
  Bytes out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  std::uint32_t count = static_cast<std::uint32_t>(literals.size());
  for (; count >= 0x80; count >>= 7) out.push_back(static_cast<std::uint8_t>(0x80 | (count & 0x7F)));
  out.push_back(static_cast<std::uint8_t>(count));
  out.insert(out.end(), literals.begin(), literals.end());
  out.insert(out.end(), coded.begin(), coded.end());
  return out;
}

}  // namespace

bool Encode(const Bytes& source, const Bytes& target, Bytes* delta, std::string* error) {
  if (source.size() >= 0xFFFFFFFFull || target.size() >= 0xFFFFFFFFull) {
    *error = "a file of 4 GB or more cannot be in a difference delta";
    return false;
  }
  const std::vector<Step> steps = FindSteps(source, target);
  std::int64_t covered = 0;
  for (const Step& step : steps) covered = std::max(covered, step.newStart + step.stretch + step.extra);
  if (covered != static_cast<std::int64_t>(target.size())) {
    *error = "the stretches found do not cover the new file";
    return false;
  }
  // Literals that the coder cannot shrink decode far faster as they are.
  Bytes coded = Code(source, target, steps, false);
  Bytes raw = Code(source, target, steps, true);
  *delta = std::move(raw.size() < coded.size() ? raw : coded);
  return true;
}

}  // namespace diffdelta
