// The builder's VCDIFF encoder. Every delta must give back exactly the new
// bytes through our decoder and through xdelta3's; the inputs are the
// shapes that stress an encoder (empty sides, runs, repeats only the new
// file holds, window edges, shifted addresses), the sample's programs, and
// random edits from a fixed seed. Size checks catch a search that quietly
// falls back to ADDs.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vcdiff.h"
#include "vcdiff_encode.h"
#include "random_bytes.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

// ---- Helpers -----------------------------------------------------------------

Bytes Encode(const Bytes &source, const Bytes &target, const vcdiff::EncodeOptions &options = {}) {
    Bytes delta;
    std::string error;
    EXPECT_TRUE(vcdiff::Encode(source, target, &delta, &error, options)) << error;
    return delta;
}

// Our decoder, on heap blocks of exactly the input sizes so that
// AddressSanitizer sees a read past them.
struct Decoded {
    int result;
    Bytes out;
};

Decoded DecodeOurs(const Bytes &source, const Bytes &delta, size_t capacity) {
    std::unique_ptr<BYTE[]> src(new BYTE[source.size()]), del(new BYTE[delta.size()]);
    std::unique_ptr<BYTE[]> out(new BYTE[capacity]);
    std::copy(source.begin(), source.end(), src.get());
    std::copy(delta.begin(), delta.end(), del.get());
    DWORD size = 0;
    const int r = VcdiffDecode(src.get(), static_cast<DWORD>(source.size()), del.get(),
                               static_cast<DWORD>(delta.size()), out.get(), static_cast<DWORD>(capacity), &size);
    return {r, Bytes(out.get(), out.get() + size)};
}

int Run(const std::string &command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// xdelta3's decoder; nullopt when it refuses the delta.
std::optional<Bytes> DecodeXdelta3(const Bytes &source, const Bytes &delta) {
    ScratchDir s("vcdiff-encode");
    const std::string cmd = std::string(WF_XDELTA3) + " -d -f -s '" + s.Put("old", source) + "' '" +
                            s.Put("delta", delta) + "' '" + s.File("new") + "' 2>/dev/null";
    if (Run(cmd) != 0) return std::nullopt;
    return s.Get<Bytes>("new");
}

// xdelta3's own delta: `options` as on its command line.
size_t Xdelta3Size(const fs::path &oldFile, const fs::path &newFile, const std::string &options) {
    ScratchDir s("vcdiff-encode");
    const std::string cmd = std::string(WF_XDELTA3) + " -e -f " + options + " -s '" + oldFile.string() + "' '" +
                            newFile.string() + "' '" + s.File("delta") + "'";
    EXPECT_EQ(0, Run(cmd)) << cmd;
    return s.Get("delta").size();
}

void ExpectRoundTrip(const std::string &what, const Bytes &source, const Bytes &target,
                     const vcdiff::EncodeOptions &options = {}, bool withXdelta3 = true) {
    SCOPED_TRACE(what);
    const Bytes delta = Encode(source, target, options);
    const Decoded ours = DecodeOurs(source, delta, target.size());
    EXPECT_EQ(VCDIFF_OK, ours.result) << VcdiffResultText(ours.result);
    EXPECT_TRUE(ours.out == target) << "our decoder gave " << ours.out.size() << " bytes, expected "
                                    << target.size();
    if (!withXdelta3) return;
    const std::optional<Bytes> theirs = DecodeXdelta3(source, delta);
    ASSERT_TRUE(theirs.has_value()) << "xdelta3 refused the delta";
    EXPECT_TRUE(*theirs == target) << "xdelta3 gave " << theirs->size() << " bytes, expected " << target.size();
}

// The windows of a delta: where each starts and its indicator.
struct WindowInfo {
    size_t at;
    std::uint8_t indicator;
    std::uint32_t targetLength;
};

std::uint32_t ReadVarint(const Bytes &b, size_t *p) {
    std::uint32_t v = 0;
    while (*p < b.size()) {
        const std::uint8_t c = b[(*p)++];
        v = v << 7 | (c & 0x7F);
        if (!(c & 0x80)) break;
    }
    return v;
}

std::vector<WindowInfo> Windows(const Bytes &delta) {
    std::vector<WindowInfo> windows;
    size_t p = 5;
    while (p < delta.size()) {
        WindowInfo w{p, delta[p], 0};
        ++p;
        if (w.indicator & 0x03) ReadVarint(delta, &p), ReadVarint(delta, &p);
        const std::uint32_t length = ReadVarint(delta, &p);
        size_t q = p;
        w.targetLength = ReadVarint(delta, &q);
        windows.push_back(w);
        p += length;
    }
    return windows;
}

// ---- Round trips ---------------------------------------------------------------

TEST(VcdiffEncode, EdgeShapesRoundTripThroughBothDecoders) {
    const Bytes text = Random(1, 6000);
    const Bytes a = Random(2, 20000), b = Random(3, 20000);
    const Bytes block = Random(4, 3000);
    struct Case {
        const char *what;
        Bytes source, target;
    } cases[] = {
        {"both empty", {}, {}},
        {"empty old file", {}, text},
        {"empty new file", text, {}},
        {"one byte each", {'a'}, {'b'}},
        {"shorter than any COPY", {'a', 'b', 'c'}, {'a', 'b', 'c'}},
        {"identical", a, a},
        {"nothing in common", a, b},
        // Long runs, in both files and only in the new one, and a run that
        // goes on where the old file's ends.
        {"runs", Cat({Fill(10000, 0), text, Fill(300, 0xFF)}),
         Cat({Fill(30000, 0), {1, 2, 3}, Fill(20000, 0), text, Fill(5000, 0xFF), {7}, Fill(200000, 0x20)})},
        // A block the old file lacks, repeated: only COPYs from the new
        // file's own earlier bytes can reach the repeats.
        {"repeats only in the new file", a, Cat({block, Bytes(a.begin(), a.begin() + 500), block, block})},
        // A COPY whose source overlaps its own output: a short pattern
        // repeated far past its length.
        {"self-overlapping pattern", {}, [] {
             Bytes p;
             for (int i = 0; i < 9000; ++i) p.push_back(static_cast<std::uint8_t>("abcdefg"[i % 7]));
             return p;
         }()},
        {"new file larger than the old", Bytes(a.begin(), a.begin() + 1000), Cat({a, a, b})},
        {"new file a piece of the old", a, Bytes(a.begin() + 7000, a.begin() + 9000)},
        {"a rebuilt program", Program(5, false), Program(5, true)},
        // The old file's last bytes start a match the new file continues.
        {"a match at the old file's end", Bytes(a.begin(), a.begin() + 4003), Cat({Bytes(a.begin() + 3990, a.begin() + 4003), b})},
    };
    for (const Case &c : cases) ExpectRoundTrip(c.what, c.source, c.target);
}

TEST(VcdiffEncode, EveryWindowEdgeRoundTrips) {
    // Small windows, and new files just below, at and above a multiple of
    // the window, built from the old file so that matches cross the edges.
    const Bytes old = Random(11, 9000);
    vcdiff::EncodeOptions options;
    options.windowSize = 4096;
    for (size_t size : {1, 4095, 4096, 4097, 8191, 8192, 8193, 3 * 4096 + 5}) {
        Bytes target;
        while (target.size() < size) {
            target.insert(target.end(), old.begin() + target.size() % 5000, old.begin() + target.size() % 5000 + 700);
            target.push_back(static_cast<std::uint8_t>(target.size()));
        }
        target.resize(size);
        const Bytes delta = Encode(old, target, options);
        const std::vector<WindowInfo> windows = Windows(delta);
        EXPECT_EQ((size + 4095) / 4096, windows.size()) << "new file of " << size;
        for (size_t i = 0; i < windows.size(); ++i)
            EXPECT_EQ(std::min<size_t>(4096, size - i * 4096), windows[i].targetLength) << size << " window " << i;
        ExpectRoundTrip("new file of " + std::to_string(size), old, target, options);
    }
    // A window of a single byte.
    options.windowSize = 1;
    ExpectRoundTrip("one-byte windows", old, Bytes(old.begin(), old.begin() + 40), options);
}

TEST(VcdiffEncode, RandomEditsRoundTrip) {
    // Fixed seed: a failure names its iteration, which reproduces it.
    Rng rng(20240611);
    for (int iteration = 0; iteration < 150; ++iteration) {
        Bytes old;
        const unsigned kind = rng.Below(4);
        const size_t size = rng.Below(12000);
        if (kind == 0) old = Random(rng.Next(), size);
        if (kind == 1) old = Program(rng.Next(), false), old.resize(std::min(old.size(), size));
        if (kind == 2) old = Fill(size, static_cast<std::uint8_t>(rng.Below(3)));
        if (kind == 3)  // few distinct bytes: long hash chains
            for (size_t i = 0; i < size; ++i) old.push_back(static_cast<std::uint8_t>(rng.Below(3)));
        const Bytes target = RandomEdits(&rng, old);
        vcdiff::EncodeOptions options;
        if (rng.Below(3) == 0) options.windowSize = 1 + rng.Below(6000);
        options.checksum = rng.Below(2) == 0;
        options.searchDepth = static_cast<int>(rng.Below(3)) * 24;
        const std::string what = "iteration " + std::to_string(iteration);
        ExpectRoundTrip(what, old, target, options, iteration % 10 == 0);
        // The build rewrites patch.rtp only when it changes.
        if (iteration % 5 == 0) {
            EXPECT_EQ(Encode(old, target, options), Encode(old, target, options)) << what << ": not repeatable";
        }
        if (HasFailure()) break;
    }
}

// ---- What the deltas hold ----------------------------------------------------------

TEST(VcdiffEncode, SizesShowTheMatchesWereFound) {
    const Bytes a = Random(21, 100000), block = Random(22, 10000);
    Bytes inserted = a;
    inserted.insert(inserted.begin() + 50000, 0x5A);
    struct Case {
        const char *what;
        Bytes source, target;
        size_t most;  // bytes the delta may take
    } cases[] = {
        {"identical", a, a, 32},
        {"one byte inserted", a, inserted, 44},
        {"a block three times, no old file", {}, Cat({block, block, block}), 10000 + 40},
        {"300 KB of zeros, no old file", {}, Fill(300000, 0), 60},
        {"old file moved by a byte", a, Cat({{0}, a}), 36},
    };
    for (const Case &c : cases) {
        const Bytes delta = Encode(c.source, c.target);
        EXPECT_LE(delta.size(), c.most) << c.what;
    }
}

TEST(VcdiffEncode, HeaderWindowsAndChecksum) {
    const Bytes old = Random(31, 3000), target = Random(32, 200);
    // Plain VCDIFF: no secondary compressor, no code table, no application
    // header; the old file is the source segment when there is one.
    const Bytes delta = Encode(old, target);
    ASSERT_GE(delta.size(), 6u);
    EXPECT_EQ((Bytes{0xD6, 0xC3, 0xC4, 0x00, 0x00}), Bytes(delta.begin(), delta.begin() + 5));
    EXPECT_EQ(0x05, Windows(delta).at(0).indicator) << "source segment and Adler-32";
    EXPECT_EQ(0x04, Windows(Encode({}, target)).at(0).indicator) << "no old file: no source segment";
    vcdiff::EncodeOptions plain;
    plain.checksum = false;
    EXPECT_EQ(0x01, Windows(Encode(old, target, plain)).at(0).indicator) << "no checksum asked for";

    // Nothing of the new bytes is in the old file, so they are the data
    // section; a changed byte there is caught by the checksum, and only by it.
    for (bool checksum : {true, false}) {
        plain.checksum = checksum;
        Bytes damaged = Encode(old, target, plain);
        const auto at = std::search(damaged.begin(), damaged.end(), target.begin(), target.begin() + 16);
        ASSERT_NE(damaged.end(), at);
        at[5] ^= 0x40;
        const Decoded d = DecodeOurs(old, damaged, target.size());
        if (checksum) {
            EXPECT_EQ(VCDIFF_BAD_CHECKSUM, d.result) << VcdiffResultText(d.result);
        } else {
            EXPECT_EQ(VCDIFF_OK, d.result) << VcdiffResultText(d.result);
            EXPECT_FALSE(d.out == target);
        }
    }
}

TEST(VcdiffEncode, RefusesOptionsOutOfRange) {
    Bytes delta = {1, 2, 3};
    std::string error;
    vcdiff::EncodeOptions options;
    options.windowSize = 0;
    EXPECT_FALSE(vcdiff::Encode({1}, {1}, &delta, &error, options));
    EXPECT_NE(std::string::npos, error.find("window")) << error;
    options.windowSize = 10;
    options.searchDepth = -1;
    error.clear();
    EXPECT_FALSE(vcdiff::Encode({1}, {1}, &delta, &error, options));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ((Bytes{1, 2, 3}), delta) << "the delta is left alone on failure";
}

// ---- The sample's programs ---------------------------------------------------------

TEST(VcdiffEncode, SampleProgramsAreNoLargerThanXdelta3s) {
    // The files patch.rtp carries, old and new builds from the sample.
    const fs::path pe = fs::path(WF_SAMPLE_BUILD_DIR) / "pe";
    size_t ours = 0, theirs = 0;
    for (const char *name : {"wayfront.exe", "wfcore.dll", "wfview.dll", "wfprint.dll", "wfnet.dll"}) {
        SCOPED_TRACE(name);
        const fs::path oldFile = pe / "old" / name, newFile = pe / "new" / name;
        std::ifstream oldIn(oldFile, std::ios::binary), newIn(newFile, std::ios::binary);
        const Bytes old{std::istreambuf_iterator<char>(oldIn), {}};
        const Bytes target{std::istreambuf_iterator<char>(newIn), {}};
        ASSERT_FALSE(old.empty() || target.empty()) << "sample not built";
        const Bytes delta = Encode(old, target);
        // xdelta3's smallest delta our decoder reads: its best level, no
        // secondary compression, no application header.
        const size_t xdelta3 = Xdelta3Size(oldFile, newFile, "-9 -S none -A");
        EXPECT_LE(delta.size(), xdelta3);
        ours += delta.size(), theirs += xdelta3;
        ExpectRoundTrip(name, old, target);
    }
    std::printf("sample deltas: ours %zu bytes, xdelta3 -9 -S none -A %zu bytes\n", ours, theirs);
}

}  // namespace
