// The difference delta: the builder's encoder (diff_delta_encode.h) held
// against the patcher's decoder (diff_delta.h), on the shapes that stress a
// coder and on random edits from a fixed seed; and the decoder on damaged
// deltas, which it must refuse without reading or writing outside its
// buffers (ASan watches heap blocks of exactly the sizes given). Every
// decode is made twice: in memory, and through files with a window of a
// few bytes and tiny read buffers, which must come to the same result.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "diff_delta.h"
#include "diff_delta_encode.h"
#include "vcdiff.h"
#include "file_route.h"
#include "random_bytes.h"
#include "vcdiff_encode.h"

namespace {

// ---- Helpers -----------------------------------------------------------------

Bytes Encode(const Bytes &source, const Bytes &target) {
    Bytes delta;
    std::string error;
    EXPECT_TRUE(diffdelta::Encode(source, target, &delta, &error)) << error;
    return delta;
}

struct Decoded {
    int result;
    Bytes out;
};

// A window of 13 bytes keeps 6 after each write: most repeats read the
// new file back. One of a single byte keeps none.
const std::vector<FileRoute> kSmallFiles = {{13, 4 * 5}, {1, 4}};

Decoded Decode(const Bytes &source, const Bytes &delta, size_t capacity,
               const std::vector<FileRoute> &routes = kSmallFiles) {
    std::unique_ptr<BYTE[]> src(new BYTE[source.size()]), del(new BYTE[delta.size()]);
    std::unique_ptr<BYTE[]> out(new BYTE[capacity]);
    std::copy(source.begin(), source.end(), src.get());
    std::copy(delta.begin(), delta.end(), del.get());
    DWORD size = 0xFFFFFFFF;
    const int r = DiffDeltaDecode(src.get(), static_cast<DWORD>(source.size()), del.get(),
                                  static_cast<DWORD>(delta.size()), out.get(), static_cast<DWORD>(capacity), &size);
    EXPECT_NE(nullptr, DiffDeltaResultText(r));
    for (const FileRoute &route : routes) {
        const RouteResult files = DecodeThroughFiles(DiffDeltaDecodeFiles, source, delta, static_cast<DWORD>(capacity), route);
        EXPECT_EQ(r, files.result) << "window " << route.window << ": " << DiffDeltaResultText(files.result);
        EXPECT_FALSE(files.outOfBounds);
        if (r == DIFFDELTA_OK) {
            EXPECT_TRUE(files.written == Bytes(out.get(), out.get() + size)) << "window " << route.window << ": other bytes";
            EXPECT_EQ(size, files.size);
        }
    }
    if (r != DIFFDELTA_OK) {
        EXPECT_EQ(0u, size) << "result " << r << " with bytes decoded";
        return {r, {}};
    }
    return {r, Bytes(out.get(), out.get() + size)};
}

// Encodes, decodes with exactly the room the new file needs, and with one
// byte less, which must be refused before anything is written past it.
void ExpectRoundTrip(const std::string &what, const Bytes &source, const Bytes &target) {
    SCOPED_TRACE(what);
    const Bytes delta = Encode(source, target);
    const Decoded exact = Decode(source, delta, target.size());
    EXPECT_EQ(DIFFDELTA_OK, exact.result) << DiffDeltaResultText(exact.result);
    EXPECT_TRUE(exact.out == target) << "decoded " << exact.out.size() << " bytes, expected " << target.size();
    if (!target.empty()) {
        EXPECT_EQ(DIFFDELTA_TOO_LARGE, Decode(source, delta, target.size() - 1).result);
    }
}

// `image` with every aligned 32-bit word from `from` on moved by `shift`,
// as a relinked program's absolute addresses move.
Bytes AddressesMoved(Bytes image, size_t from, std::uint32_t shift) {
    for (size_t i = from & ~size_t{3}; i + 4 <= image.size(); i += 4) {
        std::uint32_t v = image[i] | image[i + 1] << 8 | image[i + 2] << 16 | static_cast<std::uint32_t>(image[i + 3]) << 24;
        v += shift;
        for (int b = 0; b < 4; ++b) image[i + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    return image;
}

// ---- Round trips ---------------------------------------------------------------

TEST(DiffDelta, EdgeShapesRoundTrip) {
    const Bytes a = Random(2, 20000), b = Random(3, 20000);
    Bytes callsAtTheEnd = Fill(4000, 0xE8);
    callsAtTheEnd.back() = 0xE9;
    struct Case {
        const char *what;
        Bytes source, target;
    } cases[] = {
        {"both empty", {}, {}},
        {"empty old file", {}, a},
        {"empty new file", a, {}},
        {"one byte each", {'a'}, {'b'}},
        {"one byte, the same", {'a'}, {'a'}},
        {"identical", a, a},
        {"nothing in common: incompressible", a, b},
        // Call and jump opcodes everywhere, and one as the very last byte,
        // where no displacement can follow.
        {"all 0xE8", Fill(4096, 0xE8), Fill(4097, 0xE8)},
        {"0xE8 and 0xE9 at the end", Cat({a, {0xE8}}), Cat({b, callsAtTheEnd})},
        {"runs", Cat({Fill(10000, 0), a, Fill(300, 0xFF)}),
         Cat({Fill(30000, 0), {1, 2, 3}, Fill(20000, 0), a, Fill(5000, 0xFF), {7}, Fill(200000, 0x20)})},
        {"new file a piece of the old", a, Bytes(a.begin() + 7000, a.begin() + 9000)},
        // Repeats of the new file's own bytes: a block the old file lacks,
        // and a short pattern repeated far past its length, each repeat
        // overlapping its own bytes.
        {"repeats only in the new file", a, Cat({b, Bytes(a.begin(), a.begin() + 500), b, b})},
        {"self-overlapping pattern", {}, [] {
             Bytes p;
             for (int i = 0; i < 9000; ++i) p.push_back(static_cast<std::uint8_t>("abcdefg"[i % 7]));
             return p;
         }()},
        {"new file larger than the old", Bytes(a.begin(), a.begin() + 1000), Cat({a, a, b})},
        {"a rebuilt program", Program(5, false), Program(5, true)},
        {"addresses moved by a constant", a, AddressesMoved(a, 6000, 0x1000)},
        // Long files: numbers past 16 bits, a stretch of a megabyte.
        {"a megabyte, a byte changed in the middle", Random(7, 1 << 20), [] {
             Bytes t = Random(7, 1 << 20);
             t[1 << 19] ^= 0x55;
             return t;
         }()},
    };
    for (const Case &c : cases) ExpectRoundTrip(c.what, c.source, c.target);
}

TEST(DiffDelta, RandomEditsRoundTrip) {
    // Fixed seed: a failure names its iteration, which reproduces it.
    Rng rng(20261208);
    for (int iteration = 0; iteration < 150; ++iteration) {
        Bytes old;
        const size_t size = rng.Below(12000);
        switch (rng.Below(4)) {
        case 0: old = Random(rng.Next(), size); break;
        case 1: old = Program(rng.Next(), false), old.resize(std::min(old.size(), size)); break;
        case 2: old = Fill(size, static_cast<std::uint8_t>(rng.Below(3))); break;
        default:  // few distinct bytes: many equally long matches
            for (size_t i = 0; i < size; ++i) old.push_back(static_cast<std::uint8_t>(rng.Below(3)));
        }
        Bytes target = RandomEdits(&rng, old);
        if (rng.Below(3) == 0) target = AddressesMoved(target, rng.Below(static_cast<unsigned>(target.size() + 1)), rng.Next());
        ExpectRoundTrip("iteration " + std::to_string(iteration), old, target);
        if (HasFailure()) break;
    }
}

// ---- What the deltas hold ----------------------------------------------------------

// The point of the form: moved addresses cost a few bits each, where
// VCDIFF must spell every changed word out. A search that fell back to
// literals would show here; so would repeats that were not found.
TEST(DiffDelta, SizesAgainstVcdiff) {
    struct Case {
        const char *what;
        Bytes source, target;
        double most;  // of the VCDIFF delta's size
    } cases[] = {
        {"a rebuilt program", Program(5, false), Program(5, true), 0.5},
        {"program bytes, addresses moved", Program(6, false), AddressesMoved(Program(6, false), 4000, 0x30), 0.05},
        {"a new block, repeated", Random(10, 5000), Cat({Random(11, 3000), Random(11, 3000), Random(11, 3000)}), 1.05},
    };
    for (const Case &c : cases) {
        Bytes vcdiffDelta;
        std::string error;
        ASSERT_TRUE(vcdiff::Encode(c.source, c.target, &vcdiffDelta, &error)) << error;
        const Bytes delta = Encode(c.source, c.target);
        EXPECT_LE(delta.size(), c.most * vcdiffDelta.size())
            << c.what << ": " << delta.size() << " bytes, VCDIFF " << vcdiffDelta.size();
    }
}

// The literals go as they are, before the coded stream, when coding them
// would not make them smaller: incompressible bytes decode far faster so.
TEST(DiffDelta, LiteralsAreStoredAsTheyAreOnlyWhenThatIsSmaller) {
    struct Case {
        const char *what;
        Bytes source, target;
        size_t fewest, most;  // literals stored as they are
    } cases[] = {
        {"random bytes", {}, Random(12, 20000), 19900, 20000},
        {"a program, all new", {}, Program(5, false), 0, 0},
        {"no literals at all", Random(13, 5000), Random(13, 5000), 0, 0},
    };
    for (const Case &c : cases) {
        const Bytes delta = Encode(c.source, c.target);
        ASSERT_GE(delta.size(), 5u) << c.what;
        size_t count = 0;
        for (size_t at = 4, shift = 0; at < delta.size(); ++at, shift += 7) {
            count |= static_cast<size_t>(delta[at] & 0x7F) << shift;
            if (!(delta[at] & 0x80)) break;
        }
        EXPECT_LE(c.fewest, count) << c.what;
        EXPECT_GE(c.most, count) << c.what;
    }
}

// ---- Damaged deltas --------------------------------------------------------------

TEST(DiffDelta, EveryCutIsRefused) {
    const Bytes old = Program(8, false), target = Program(8, true);
    const Bytes delta = Encode(old, target);
    for (size_t length = 0; length < delta.size(); ++length) {
        const Decoded d = Decode(old, Bytes(delta.begin(), delta.begin() + length), target.size());
        EXPECT_NE(DIFFDELTA_OK, d.result) << "cut to " << length << " of " << delta.size();
    }
}

TEST(DiffDelta, DamagedDeltasAreRefused) {
    const Bytes old = Program(9, false), target = Program(9, true);
    const Bytes good = Encode(old, target);
    auto with = [&](size_t at, std::uint8_t value) {
        Bytes d = good;
        d[at] = value;
        return d;
    };
    struct Case {
        const char *what;
        Bytes source, delta;
        int expected;
    } cases[] = {
        {"a byte after the end", old, Cat({good, {0}}), DIFFDELTA_TRAILING},
        {"a new size past the room", old, with(3, 0x7F), DIFFDELTA_TOO_LARGE},
        {"a code outside the range", old, Cat({Bytes(good.begin(), good.begin() + 4), Fill(8, 0xFF)}),
         DIFFDELTA_BAD_LENGTH},
        {"an old file cut short", Bytes(old.begin(), old.begin() + old.size() / 2), good, DIFFDELTA_BAD_SOURCE},
        {"no old file", {}, good, DIFFDELTA_BAD_SOURCE},
        // The count of literals stored as they are (5 bytes at most).
        {"a literal count past the end", old, Cat({Bytes(good.begin(), good.begin() + 4), {0xFF, 0x7F}}),
         DIFFDELTA_TRUNCATED},
        {"a literal count past 32 bits", old,
         Cat({Bytes(good.begin(), good.begin() + 4), {0xFF, 0xFF, 0xFF, 0xFF, 0x1F}, Bytes(good.begin() + 5, good.end())}),
         DIFFDELTA_BAD_LENGTH},
        {"a literal count cut short", old, Bytes(good.begin(), good.begin() + 4), DIFFDELTA_TRUNCATED},
    };
    for (const Case &c : cases) {
        const Decoded d = Decode(c.source, c.delta, 1 << 20);
        EXPECT_EQ(c.expected, d.result) << c.what << ": " << DiffDeltaResultText(d.result);
    }
    // Any bit flipped, in a delta with coded literals and in one with
    // literals as they are: whatever the decoder makes of it, it stays
    // inside its buffers and gives a size only with success.
    const Bytes randomNew = Cat({Random(14, 3000), Bytes(old.begin(), old.begin() + 3000)});
    const Bytes raw = Encode(old, randomNew);
    ASSERT_NE(0, raw[4]) << "literals coded";
    const std::vector<FileRoute> routes = {{1000, 4 * 64}};  // larger, for speed, but short of the file
    for (const Bytes *d : {&good, &raw}) {
        for (size_t at = 4; at < d->size(); ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                Bytes flipped = *d;
                flipped[at] ^= static_cast<std::uint8_t>(1 << bit);
                Decode(old, flipped, randomNew.size() + target.size(), routes);
            }
        }
    }
}

// ---- Through files: reads and writes that fail -----------------------------------

// Whichever read or write fails, either decoder stops with that failure,
// never with a verdict on the delta, and asks for nothing out of bounds.
TEST(DeltaFiles, AFailedReadOrWriteStopsEitherDecoder) {
    const Bytes old = Program(15, false), target = Cat({Program(15, true), Random(16, 700), Random(16, 700)});
    Bytes vcdiffDelta;
    std::string error;
    ASSERT_TRUE(vcdiff::Encode(old, target, &vcdiffDelta, &error)) << error;
    struct Case {
        const char *what;
        DeltaDecodeFiles decode;
        Bytes delta;
        int readFailed, writeFailed;
    } cases[] = {
        {"difference delta", DiffDeltaDecodeFiles, Encode(old, target), DIFFDELTA_READ_FAILED, DIFFDELTA_WRITE_FAILED},
        {"VCDIFF", VcdiffDecodeFiles, vcdiffDelta, VCDIFF_READ_FAILED, VCDIFF_WRITE_FAILED},
    };
    for (const Case &c : cases) {
        FileRoute route{64, 4 * 16};
        const DWORD capacity = static_cast<DWORD>(target.size());
        if (c.decode == VcdiffDecodeFiles) route.window = capacity;
        const RouteResult whole = DecodeThroughFiles(c.decode, old, c.delta, capacity, route);
        ASSERT_EQ(0, whole.result) << c.what;
        ASSERT_TRUE(whole.written == target) << c.what;
        for (long n = 0; n < whole.reads; ++n) {
            FileRoute failing = route;
            failing.failRead = n;
            const RouteResult r = DecodeThroughFiles(c.decode, old, c.delta, capacity, failing);
            EXPECT_EQ(c.readFailed, r.result) << c.what << ": read " << n << " of " << whole.reads << " failed";
            EXPECT_FALSE(r.outOfBounds) << c.what;
        }
        for (long n = 0; n < whole.writes; ++n) {
            FileRoute failing = route;
            failing.failWrite = n;
            const RouteResult r = DecodeThroughFiles(c.decode, old, c.delta, capacity, failing);
            EXPECT_EQ(c.writeFailed, r.result) << c.what << ": write " << n << " of " << whole.writes << " failed";
            EXPECT_EQ(n, r.writes - 1) << c.what << ": wrote on after a failed write";
        }
    }
}

}  // namespace
