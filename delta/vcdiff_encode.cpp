// The VCDIFF encoder. See vcdiff_encode.h for what it writes.
//
// Each window is encoded in three steps:
//  1. Candidates: at every target position, earlier occurrences of the next
//     four bytes in the old file and in the target so far (hash chains),
//     plus the "diagonals" of the path's recent COPYs: after a few changed
//     bytes, a rebuilt program usually goes on matching the old one at the
//     same shift.
//  2. Parse: a shortest path over the target positions 0..n. A position is
//     reached by a COPY or RUN ending there, possibly after an ADD. Each
//     position keeps the address caches of its best path, so a COPY's
//     address costs what the decoder's caches will make it cost. The costs
//     are exact but for the COPY+ADD pair opcode, which only the emitter
//     uses.
//  3. Emit: the chosen instructions, paired into the code table's double
//     opcodes where they fit, each COPY address in its cheapest mode.
#include "vcdiff_encode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <limits>
#include <queue>

namespace vcdiff {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kMinMatch = 4;         // the code table's shortest COPY
constexpr std::uint32_t kNearSlots = 4;        // the default code table's caches
constexpr std::uint32_t kSameSlots = 3 * 256;
constexpr std::uint8_t kModeSelf = 0, kModeHere = 1, kModeNear = 2, kModeSame = 6;
// A match this long is carried to the next position (one byte shorter, one
// address further) instead of being compared again, so that a long
// stretch of unchanged bytes does not cost its length squared.
constexpr std::uint32_t kCarriedMatch = 64;
// Past this length a match is taken as it is: the positions it covers are
// not searched again, except for its last kLongMatch bytes.
constexpr std::uint32_t kLongMatch = 4096;
constexpr std::uint32_t kUnreached = std::numeric_limits<std::uint32_t>::max();

int VarintSize(std::uint64_t v) {
  if (v < (1u << 7)) return 1;
  if (v < (1u << 14)) return 2;
  if (v < (1u << 21)) return 3;
  int n = 4;
  for (v >>= 28; v != 0; v >>= 7) ++n;
  return n;
}

void PutVarint(Bytes& out, std::uint64_t v) {
  std::uint8_t buf[10];
  int n = 0;
  buf[n++] = static_cast<std::uint8_t>(v & 0x7F);
  for (v >>= 7; v != 0; v >>= 7) buf[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
  while (n > 0) out.push_back(buf[--n]);
}

// Bytes of instruction section an ADD of `size` takes on its own.
std::uint32_t AddOpcodeSize(std::uint32_t size) { return size <= 17 ? 1 : 1 + VarintSize(size); }

std::uint32_t Adler32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t a = 1, b = 0;
  for (std::size_t i = 0; i < n; ++i) {
    a = (a + p[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// How many bytes a[0..) and b[0..) have in common, at most `limit`.
std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit) {
  std::uint32_t n = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  while (n + 8 <= limit) {
    std::uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + static_cast<std::uint32_t>(__builtin_ctzll(x ^ y) / 8);
    n += 8;
  }
#endif
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// ---- Address caches --------------------------------------------------------

// The same cache of every path the parse keeps. Its 768 slots are a
// 3 x 16 x 16 tree whose nodes never change once made, so a path's cache is
// one root, and a COPY adds only the three nodes on the way to its slot.
class SameCaches {
 public:
  SameCaches() : roots_(1), mids_(1), leaves_(1) {}  // version 0: every slot 0

  std::uint32_t Get(std::uint32_t version, std::uint32_t addr) const {
    const std::uint32_t slot = addr % kSameSlots;
    return leaves_[mids_[roots_[version][slot / 256]][slot / 16 % 16]][slot % 16];
  }

  // The version after `version` with `addr` in its slot.
  std::uint32_t Set(std::uint32_t version, std::uint32_t addr) {
    const std::uint32_t slot = addr % kSameSlots;
    Root root = roots_[version];
    Block mid = mids_[root[slot / 256]];
    Block leaf = leaves_[mid[slot / 16 % 16]];
    leaf[slot % 16] = addr;
    leaves_.push_back(leaf);
    mid[slot / 16 % 16] = static_cast<std::uint32_t>(leaves_.size() - 1);
    mids_.push_back(mid);
    root[slot / 256] = static_cast<std::uint32_t>(mids_.size() - 1);
    roots_.push_back(root);
    return static_cast<std::uint32_t>(roots_.size() - 1);
  }

 private:
  using Root = std::array<std::uint32_t, 3>;
  using Block = std::array<std::uint32_t, 16>;
  std::vector<Root> roots_;
  std::vector<Block> mids_;
  std::vector<Block> leaves_;
};

// What the decoder's caches hold after a path, and the distances
// (here - address) of the path's last few COPYs.
struct PathCache {
  std::array<std::uint32_t, kNearSlots> near{};
  std::array<std::uint32_t, 4> distance{};  // 0: unused
  std::uint32_t same = 0;                   // version in SameCaches
  std::uint8_t nextNear = 0;
  std::uint8_t nextDistance = 0;
};

PathCache AfterCopy(const PathCache& cache, SameCaches& same, std::uint32_t here, std::uint32_t addr) {
  PathCache next = cache;
  next.near[next.nextNear] = addr;
  next.nextNear = static_cast<std::uint8_t>((next.nextNear + 1) % kNearSlots);
  next.same = same.Set(cache.same, addr);
  const std::uint32_t distance = here - addr;
  if (std::find(next.distance.begin(), next.distance.end(), distance) == next.distance.end()) {
    next.distance[next.nextDistance] = distance;
    next.nextDistance = static_cast<std::uint8_t>((next.nextDistance + 1) % next.distance.size());
  }
  return next;
}

struct AddressCost {
  int size;           // bytes in the address section, cheapest mode
  std::uint8_t mode;
  int sizeNotSame;    // cheapest without the same cache, which the pair
  std::uint8_t modeNotSame;  // opcodes ADD + COPY of 5 or 6 cannot use
};

AddressCost CostOf(const PathCache& cache, const SameCaches& same, std::uint32_t here,
                   std::uint32_t addr) {
  AddressCost c;
  c.sizeNotSame = VarintSize(addr);
  c.modeNotSame = kModeSelf;
  const int fromHere = VarintSize(here - addr);
  if (fromHere < c.sizeNotSame) c.sizeNotSame = fromHere, c.modeNotSame = kModeHere;
  for (std::uint32_t k = 0; k < kNearSlots; ++k) {
    if (addr < cache.near[k]) continue;
    const int n = VarintSize(addr - cache.near[k]);
    if (n < c.sizeNotSame) c.sizeNotSame = n, c.modeNotSame = static_cast<std::uint8_t>(kModeNear + k);
  }
  c.size = c.sizeNotSame;
  c.mode = c.modeNotSame;
  if (c.size > 1 && same.Get(cache.same, addr) == addr) {
    c.size = 1;
    c.mode = static_cast<std::uint8_t>(kModeSame + addr % kSameSlots / 256);
  }
  return c;
}

void PutAddress(Bytes& out, const PathCache& cache, std::uint8_t mode, std::uint32_t here,
                std::uint32_t addr) {
  if (mode == kModeSelf) {
    PutVarint(out, addr);
  } else if (mode == kModeHere) {
    PutVarint(out, here - addr);
  } else if (mode < kModeSame) {
    PutVarint(out, addr - cache.near[mode - kModeNear]);
  } else {
    out.push_back(static_cast<std::uint8_t>(addr % 256));
  }
}

// ---- Match finding ---------------------------------------------------------

constexpr std::uint32_t kNone = kUnreached;

// Positions of a byte string by the hash of the 4 bytes there, most recent
// first. Inside a run of one byte only the run's first position is kept:
// the others would fill the chains with copies of the same few matches.
class MatchIndex {
 public:
  // The table grows with the data, up to 2^16 chains: a window of a few
  // bytes should not pay for a large one.
  MatchIndex(const std::uint8_t* data, std::size_t size)
      : data_(data), size_(size), bits_(HashBits(size)), head_(std::size_t{1} << bits_, kNone), next_(size, kNone) {}

  void Insert(std::uint32_t pos) {
    if (pos + kMinMatch > size_) return;
    const std::uint8_t* p = data_ + pos;
    if (pos > 0 && p[-1] == p[0] && p[0] == p[1] && p[1] == p[2] && p[2] == p[3]) return;
    const std::uint32_t h = Hash(p);
    next_[pos] = head_[h];
    head_[h] = pos;
  }

  template <class Visit>
  void ForEach(const std::uint8_t* key, int depth, Visit visit) const {
    for (std::uint32_t pos = head_[Hash(key)]; pos != kNone && depth > 0; pos = next_[pos], --depth)
      visit(pos);
  }

 private:
  static int HashBits(std::size_t size) {
    int bits = 4;
    while (bits < 16 && (std::size_t{1} << bits) < size) ++bits;
    return bits;
  }

  std::uint32_t Hash(const std::uint8_t* p) const {
    const std::uint32_t v = p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    return (v * 2654435761u) >> (32 - bits_);
  }

  const std::uint8_t* data_;
  std::size_t size_;
  int bits_;
  std::vector<std::uint32_t> head_;
  std::vector<std::uint32_t> next_;
};

// ---- Parse -----------------------------------------------------------------

enum class Kind : std::uint8_t { kStart, kAdd, kRun, kCopy };

struct Instruction {
  Kind kind;
  std::uint32_t pos;   // in the window's target
  std::uint32_t size;
  std::uint32_t addr;  // COPY only
};

// The last step of the best path found to a position: a COPY or RUN from
// `start`, after an ADD of `addSize` bytes ending at `start`.
struct Step {
  std::uint32_t cost = kUnreached;
  std::uint32_t start = 0;
  std::uint32_t addSize = 0;
  std::uint32_t addr = 0;
  Kind kind = Kind::kStart;
};

// A COPY or RUN from `step.start` that would reach any position in
// [first, last] at the same cost.
struct Offer {
  Step step;
  std::uint32_t first, last;
};

struct DearerOffer {  // puts the cheapest offer on top of a priority queue
  bool operator()(const Offer& a, const Offer& b) const { return a.step.cost > b.step.cost; }
};

// A place an instruction can start from: the path to a position, perhaps
// followed by an ADD up to `pos`.
struct Base {
  std::uint32_t cost;
  std::uint32_t addSize;
  std::uint32_t node;  // position whose path (and caches) this extends
  bool pairable;       // an ADD of 1 to 4 that can share a COPY's opcode
};

struct Candidate {
  std::uint32_t addr;
  std::uint32_t length;
};

class WindowParser {
 public:
  WindowParser(const Bytes& source, const MatchIndex& sourceIndex, const std::uint8_t* target,
               std::uint32_t size, int depth)
      : src_(source.data()),
        srcSize_(static_cast<std::uint32_t>(source.size())),
        sourceIndex_(sourceIndex),
        tgt_(target),
        size_(size),
        depth_(depth),
        targetIndex_(target, size),
        steps_(size + 1),
        caches_(size + 1),
        points_(size + 1),
        longAdds_(size + 1),
        runs_(size + 1, 0) {
    for (std::uint32_t i = size; i-- > 0;)
      runs_[i] = (i + 1 < size && tgt_[i] == tgt_[i + 1]) ? runs_[i + 1] + 1 : 1;
  }

  std::vector<Instruction> Parse();

 private:
  struct LongAdd {
    std::uint32_t cost = kUnreached;
    std::uint32_t size = 0;
  };

  void Reach(std::uint32_t pos);
  void CollectBases(std::uint32_t pos);
  void CollectCandidates(std::uint32_t pos);
  void AddCandidate(std::uint32_t pos, std::uint32_t addr);
  void OfferCopies(std::uint32_t pos, const Candidate& c);
  void OfferRun(std::uint32_t pos);
  void OfferSizes(const Step& step, std::uint32_t first, std::uint32_t last);
  std::vector<Instruction> Backtrack() const;

  const std::uint8_t* src_;
  std::uint32_t srcSize_;
  const MatchIndex& sourceIndex_;
  const std::uint8_t* tgt_;
  std::uint32_t size_;
  int depth_;
  MatchIndex targetIndex_;

  std::vector<Step> steps_;
  std::vector<PathCache> caches_;
  SameCaches same_;
  std::vector<Step> points_;         // best offer for exactly this position
  std::vector<LongAdd> longAdds_;    // best path ending in an ADD of 5 or more
  std::vector<std::uint32_t> runs_;  // bytes from here equal to this one
  // Range offers wait in a queue per distance to their first position, so
  // each queue is in order of that position; reached, they join the heap.
  static constexpr std::array<std::uint32_t, 5> kRangeStarts = {4, 19, 128, 16384, 1u << 21};
  std::array<std::deque<Offer>, 5> waiting_;
  std::priority_queue<Offer, std::vector<Offer>, DearerOffer> open_;

  std::vector<Base> bases_;
  std::vector<Candidate> candidates_;
  std::vector<Candidate> carried_, carrying_;  // long matches at the last position, at this one
  std::uint32_t searchFrom_ = 0;  // positions before it lie inside a long match
};

// Offers `step` for every size in [first, last]; `first` is one of
// kRangeStarts.
void WindowParser::OfferSizes(const Step& step, std::uint32_t first, std::uint32_t last) {
  const auto queue = std::find(kRangeStarts.begin(), kRangeStarts.end(), first) - kRangeStarts.begin();
  waiting_[queue].push_back(Offer{step, step.start + first, step.start + last});
}

// Settles the best path to `pos` from the offers that reach it.
void WindowParser::Reach(std::uint32_t pos) {
  if (pos == 0) {
    steps_[0].cost = 0;
    return;
  }
  for (auto& queue : waiting_) {
    while (!queue.empty() && queue.front().first <= pos) {
      open_.push(queue.front());
      queue.pop_front();
    }
  }
  while (!open_.empty() && open_.top().last < pos) open_.pop();
  Step best = points_[pos];
  if (!open_.empty() && open_.top().step.cost < best.cost) best = open_.top().step;
  if (best.cost == kUnreached) return;
  steps_[pos] = best;
  const std::uint32_t node = best.start - best.addSize;
  caches_[pos] = best.kind == Kind::kCopy
                     ? AfterCopy(caches_[node], same_, srcSize_ + best.start, best.addr)
                     : caches_[node];
}

void WindowParser::CollectBases(std::uint32_t pos) {
  bases_.clear();
  if (steps_[pos].cost != kUnreached) bases_.push_back({steps_[pos].cost, 0, pos, false});
  for (std::uint32_t n = 1; n <= 4 && n <= pos; ++n) {
    const Step& s = steps_[pos - n];
    if (s.cost != kUnreached) bases_.push_back({s.cost + n + 1, n, pos - n, true});
  }
  const LongAdd& add = longAdds_[pos];
  if (add.cost != kUnreached) bases_.push_back({add.cost, add.size, pos - add.size, false});
  // A base dearer by more than the widest difference an address mode or a
  // shared opcode can make never wins.
  std::sort(bases_.begin(), bases_.end(), [](const Base& a, const Base& b) { return a.cost < b.cost; });
  while (!bases_.empty() && bases_.back().cost > bases_.front().cost + 5) bases_.pop_back();
}

void WindowParser::AddCandidate(std::uint32_t pos, std::uint32_t addr) {
  std::uint32_t length = 0;
  const auto carried = std::find_if(carried_.begin(), carried_.end(),
                                    [&](const Candidate& c) { return c.addr + 1 == addr; });
  if (carried != carried_.end()) {
    length = carried->length - 1;
  } else if (addr < srcSize_) {
    length = CommonLength(src_ + addr, tgt_ + pos, std::min(srcSize_ - addr, size_ - pos));
  } else {
    length = CommonLength(tgt_ + (addr - srcSize_), tgt_ + pos, size_ - pos);
  }
  if (length >= kMinMatch) candidates_.push_back({addr, length});
  if (length >= kCarriedMatch) carrying_.push_back({addr, length});
}

void WindowParser::CollectCandidates(std::uint32_t pos) {
  candidates_.clear();
  if (pos + kMinMatch > size_) return;
  const std::uint32_t here = srcSize_ + pos;
  // The diagonals of the bases' recent COPYs first.
  std::array<std::uint32_t, 24> tried;
  std::size_t triedCount = 0;
  for (const Base& b : bases_) {
    for (std::uint32_t distance : caches_[b.node].distance) {
      if (distance == 0 || distance > here) continue;
      if (std::find(tried.begin(), tried.begin() + triedCount, here - distance) !=
          tried.begin() + triedCount)
        continue;
      if (triedCount < tried.size()) tried[triedCount++] = here - distance;
      AddCandidate(pos, here - distance);
    }
  }
  auto fresh = [&](std::uint32_t addr) {
    return std::find(tried.begin(), tried.begin() + triedCount, addr) == tried.begin() + triedCount;
  };
  // Inside a run of one byte the chains hold only the starts of runs, which
  // the run's first position has tried already.
  if (pos > 0 && tgt_[pos - 1] == tgt_[pos] && runs_[pos] >= kMinMatch) return;
  sourceIndex_.ForEach(tgt_ + pos, depth_, [&](std::uint32_t at) {
    if (fresh(at)) AddCandidate(pos, at);
  });
  targetIndex_.ForEach(tgt_ + pos, depth_, [&](std::uint32_t at) {
    if (fresh(srcSize_ + at)) AddCandidate(pos, srcSize_ + at);
  });
}

// Offers a COPY of `c` from `pos` for every length it can have, each length
// from the base that makes it cheapest.
void WindowParser::OfferCopies(std::uint32_t pos, const Candidate& c) {
  // No address takes less than a byte: a short COPY that cannot beat what
  // already reaches each position it could end at is not worth costing.
  if (c.length <= 18) {
    const std::uint32_t floor = bases_.front().cost + 1;  // bases_ is sorted by cost
    bool useless = true;
    for (std::uint32_t n = kMinMatch; n <= c.length && useless; ++n) useless = points_[pos + n].cost <= floor;
    if (useless) return;
  }
  const std::uint32_t here = srcSize_ + pos;
  Step alone, four, fiveSix;  // own opcode; length 4; length 5 or 6
  for (const Base& b : bases_) {
    // Bases come cheapest first; one whose ADD+COPY would cost no less
    // than every COPY found so far, even at a one-byte address, ends it.
    if (b.cost + 1 >= std::max({alone.cost, four.cost, fiveSix.cost}) && alone.cost != kUnreached) break;
    const AddressCost a = CostOf(caches_[b.node], same_, here, c.addr);
    Step s;
    s.start = pos;
    s.addSize = b.addSize;
    s.addr = c.addr;
    s.kind = Kind::kCopy;
    s.cost = b.cost + a.size + 1;
    if (s.cost < alone.cost) alone = s;
    if (b.pairable) {
      // ADD + COPY share one opcode: the ADD's, already counted.
      s.cost = b.cost + a.size;
      if (s.cost < four.cost) four = s;
      s.cost = std::min<std::uint32_t>(b.cost + a.sizeNotSame, b.cost + a.size + 1);
      if (s.cost < fiveSix.cost) fiveSix = s;
    }
  }
  if (alone.cost < four.cost) four = alone;
  if (alone.cost < fiveSix.cost) fiveSix = alone;
  auto point = [&](std::uint32_t length, const Step& s) {
    if (s.cost < points_[pos + length].cost) points_[pos + length] = s;
  };
  const std::uint32_t shortest = std::min<std::uint32_t>(c.length, 18);
  point(4, four);
  for (std::uint32_t n = 5; n <= shortest; ++n) point(n, n <= 6 ? fiveSix : alone);
  // Longer COPYs carry their size after the opcode.
  for (std::size_t q = 1; q < kRangeStarts.size() && kRangeStarts[q] <= c.length; ++q) {
    const std::uint32_t last = q + 1 < kRangeStarts.size() ? kRangeStarts[q + 1] - 1 : c.length;
    Step s = alone;
    s.cost += VarintSize(kRangeStarts[q]);
    OfferSizes(s, kRangeStarts[q], std::min(last, c.length));
  }
}

// A RUN: opcode, size and the byte, after any base.
void WindowParser::OfferRun(std::uint32_t pos) {
  const std::uint32_t run = runs_[pos];
  if (run < kMinMatch) return;
  if (bases_.empty()) return;
  const Base* cheapest = &bases_.front();  // sorted by cost
  Step s;
  s.start = pos;
  s.addSize = cheapest->addSize;
  s.kind = Kind::kRun;
  // Sizes 4..127, 128..16383, ... each cost the same: opcode, size, byte.
  static constexpr std::array<std::uint32_t, 4> kFirst = {4, 128, 16384, 1u << 21};
  for (std::size_t q = 0; q < kFirst.size() && kFirst[q] <= run; ++q) {
    const std::uint32_t last = q + 1 < kFirst.size() ? kFirst[q + 1] - 1 : run;
    s.cost = cheapest->cost + 2 + VarintSize(kFirst[q]);
    OfferSizes(s, kFirst[q], std::min(last, run));
  }
}

std::vector<Instruction> WindowParser::Parse() {
  for (std::uint32_t pos = 0; pos <= size_; ++pos) {
    Reach(pos);
    // The cheapest path ending in an ADD of 5 or more bytes.
    if (pos >= 5) {
      LongAdd& add = longAdds_[pos];
      const Step& s = steps_[pos - 5];
      if (s.cost != kUnreached) add = {s.cost + 5 + 1, 5};
      const LongAdd& prev = longAdds_[pos - 1];
      if (prev.cost != kUnreached) {
        const std::uint32_t cost = prev.cost + 1 + AddOpcodeSize(prev.size + 1) - AddOpcodeSize(prev.size);
        if (cost < add.cost) add = {cost, prev.size + 1};
      }
    }
    if (pos == size_) break;
    CollectBases(pos);
    carried_.swap(carrying_);
    carrying_.clear();
    if (!bases_.empty() && pos >= searchFrom_) {
      CollectCandidates(pos);
      std::uint32_t longest = 0;
      for (const Candidate& c : candidates_) {
        OfferCopies(pos, c);
        longest = std::max(longest, c.length);
      }
      if (longest >= kLongMatch) searchFrom_ = pos + longest - kLongMatch;
    }
    OfferRun(pos);
    targetIndex_.Insert(pos);
  }
  return Backtrack();
}

std::vector<Instruction> WindowParser::Backtrack() const {
  // The path may end in an ADD.
  std::uint32_t bestCost = steps_[size_].cost, addSize = 0;
  for (std::uint32_t n = 1; n <= 4 && n <= size_; ++n) {
    const Step& s = steps_[size_ - n];
    if (s.cost != kUnreached && s.cost + n + 1 < bestCost) bestCost = s.cost + n + 1, addSize = n;
  }
  if (longAdds_[size_].cost < bestCost) addSize = longAdds_[size_].size;
  std::vector<Instruction> out;
  std::uint32_t pos = size_;
  if (addSize > 0) {
    out.push_back({Kind::kAdd, pos - addSize, addSize, 0});
    pos -= addSize;
  }
  while (pos > 0) {
    const Step& s = steps_[pos];
    out.push_back({s.kind, s.start, pos - s.start, s.addr});
    if (s.addSize > 0) out.push_back({Kind::kAdd, s.start - s.addSize, s.addSize, 0});
    pos = s.start - s.addSize;
  }
  std::reverse(out.begin(), out.end());
  return out;
}

// ---- Emit ------------------------------------------------------------------

struct Sections {
  Bytes data, instructions, addresses;
};

Sections Emit(const std::vector<Instruction>& list, std::uint32_t srcSize, const std::uint8_t* tgt) {
  Sections out;
  SameCaches same;
  PathCache cache;
  auto copyAddress = [&](const Instruction& copy, std::uint8_t mode) {
    const std::uint32_t here = srcSize + copy.pos;
    PutAddress(out.addresses, cache, mode, here, copy.addr);
    cache = AfterCopy(cache, same, here, copy.addr);
  };
  for (std::size_t k = 0; k < list.size(); ++k) {
    const Instruction& in = list[k];
    const Instruction* next = k + 1 < list.size() ? &list[k + 1] : nullptr;
    if (in.kind == Kind::kAdd) {
      out.data.insert(out.data.end(), tgt + in.pos, tgt + in.pos + in.size);
      if (in.size <= 4 && next && next->kind == Kind::kCopy && next->size >= 4 && next->size <= 6) {
        const AddressCost a = CostOf(cache, same, srcSize + next->pos, next->addr);
        int opcode = -1;
        std::uint8_t mode = a.mode;
        if (next->size == 4 && mode >= kModeSame) {
          opcode = 235 + 4 * (mode - kModeSame) + static_cast<int>(in.size - 1);
        } else if (next->size == 4 || a.sizeNotSame <= a.size + 1) {
          mode = next->size == 4 ? a.mode : a.modeNotSame;
          opcode = 163 + 12 * mode + 3 * static_cast<int>(in.size - 1) + static_cast<int>(next->size - 4);
        }
        if (opcode >= 0) {
          out.instructions.push_back(static_cast<std::uint8_t>(opcode));
          copyAddress(*next, mode);
          ++k;
          continue;
        }
      }
      if (in.size <= 17) {
        out.instructions.push_back(static_cast<std::uint8_t>(1 + in.size));
      } else {
        out.instructions.push_back(1);
        PutVarint(out.instructions, in.size);
      }
    } else if (in.kind == Kind::kRun) {
      out.instructions.push_back(0);
      PutVarint(out.instructions, in.size);
      out.data.push_back(tgt[in.pos]);
    } else {
      const AddressCost a = CostOf(cache, same, srcSize + in.pos, in.addr);
      if (in.size == 4 && next && next->kind == Kind::kAdd && next->size == 1) {
        out.instructions.push_back(static_cast<std::uint8_t>(247 + a.mode));
        copyAddress(in, a.mode);
        out.data.push_back(tgt[next->pos]);
        ++k;
        continue;
      }
      if (in.size >= 4 && in.size <= 18) {
        out.instructions.push_back(static_cast<std::uint8_t>(19 + 16 * a.mode + in.size - 3));
      } else {
        out.instructions.push_back(static_cast<std::uint8_t>(19 + 16 * a.mode));
        PutVarint(out.instructions, in.size);
      }
      copyAddress(in, a.mode);
    }
  }
  return out;
}

constexpr std::uint8_t kWindowSource = 0x01;
constexpr std::uint8_t kWindowAdler32 = 0x04;

void PutWindow(Bytes& delta, std::uint32_t srcSize, const std::uint8_t* tgt, std::uint32_t size,
               const Sections& s, bool checksum) {
  delta.push_back(static_cast<std::uint8_t>((srcSize > 0 ? kWindowSource : 0) |
                                            (checksum ? kWindowAdler32 : 0)));
  if (srcSize > 0) {
    PutVarint(delta, srcSize);
    PutVarint(delta, 0);
  }
  Bytes body;
  PutVarint(body, size);
  body.push_back(0);  // no section is compressed
  PutVarint(body, s.data.size());
  PutVarint(body, s.instructions.size());
  PutVarint(body, s.addresses.size());
  if (checksum) {
    const std::uint32_t adler = Adler32(tgt, size);
    for (int shift = 24; shift >= 0; shift -= 8) body.push_back(static_cast<std::uint8_t>(adler >> shift));
  }
  body.insert(body.end(), s.data.begin(), s.data.end());
  body.insert(body.end(), s.instructions.begin(), s.instructions.end());
  body.insert(body.end(), s.addresses.begin(), s.addresses.end());
  PutVarint(delta, body.size());
  delta.insert(delta.end(), body.begin(), body.end());
}

}  // namespace

bool Encode(const Bytes& source, const Bytes& target, Bytes* delta, std::string* error,
            const EncodeOptions& options) {
  if (options.windowSize == 0 || options.searchDepth < 0) {
    *error = "the window size must be at least 1 and the search depth not negative";
    return false;
  }
  const std::uint64_t window = std::min<std::uint64_t>(options.windowSize, target.size());
  if (source.size() + window >= 0xFFFFFFFFull) {
    *error = "the old file and a window of the new one do not fit 32-bit addresses";
    return false;
  }
  const auto srcSize = static_cast<std::uint32_t>(source.size());
  Bytes out = {0xD6, 0xC3, 0xC4, 0x00, 0x00};  // magic, version 0, no header extras
  MatchIndex sourceIndex(source.data(), source.size());
  for (std::uint32_t pos = 0; pos < srcSize; ++pos) sourceIndex.Insert(pos);
  std::size_t done = 0;
  do {
    const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(window, target.size() - done));
    const std::uint8_t* tgt = target.data() + done;
    WindowParser parser(source, sourceIndex, tgt, size, options.searchDepth);
    const Sections sections = Emit(parser.Parse(), srcSize, tgt);
    PutWindow(out, srcSize, tgt, size, sections, options.checksum);
    done += size;
  } while (done < target.size());
  *delta = std::move(out);
  return true;
}

}  // namespace vcdiff
