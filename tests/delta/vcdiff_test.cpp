// The VCDIFF decoder: real xdelta3 deltas on varied inputs, hand-assembled
// deltas for each instruction and address mode, and damaged deltas, which
// must be refused without touching memory outside the buffers (every buffer
// handed to the decoder is a heap block of exactly its size, so that
// AddressSanitizer sees the first byte past it). Every decode is made
// twice: in memory, and through files with read buffers of a few bytes,
// which must come to the same result.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "file_route.h"
#include "vcdiff.h"
#include "random_bytes.h"
#include "scratch_dir.h"

namespace {

typedef std::vector<BYTE> Bytes;
namespace fs = std::filesystem;

const char *ResultName(int r) {
    static const char *const names[] = {"OK", "TRUNCATED", "BAD_HEADER", "UNSUPPORTED", "BAD_WINDOW",
                                        "BAD_INSTRUCTION", "BAD_ADDRESS", "TOO_LARGE", "BAD_CHECKSUM",
                                        "WINDOW_TOO_LARGE", "READ_FAILED", "WRITE_FAILED"};
    return r >= 0 && r <= VCDIFF_WRITE_FAILED ? names[r] : "(not a result)";
}

struct Decoded {
    int result;
    Bytes out;
};

std::unique_ptr<BYTE[]> ExactCopy(const Bytes &b) {
    std::unique_ptr<BYTE[]> p(new BYTE[b.size()]);
    std::copy(b.begin(), b.end(), p.get());
    return p;
}

Decoded Decode(const Bytes &source, const Bytes &delta, size_t capacity) {
    auto src = ExactCopy(source), del = ExactCopy(delta);
    std::unique_ptr<BYTE[]> out(new BYTE[capacity]);
    DWORD size = 0xDEADBEEF;
    int r = VcdiffDecode(src.get(), (DWORD)source.size(), del.get(), (DWORD)delta.size(), out.get(),
                         (DWORD)capacity, &size);
    EXPECT_TRUE(r >= VCDIFF_OK && r <= VCDIFF_WINDOW_TOO_LARGE) << r;
    // The window as the patcher gives it: no larger than the new file.
    FileRoute route;
    route.window = static_cast<DWORD>(std::min<size_t>(capacity, DELTA_WINDOW_MAX));
    route.buffers = 4 * 5;
    const RouteResult files = DecodeThroughFiles(VcdiffDecodeFiles, source, delta, static_cast<DWORD>(capacity), route);
    EXPECT_STREQ(ResultName(r), ResultName(files.result)) << "through files";
    EXPECT_FALSE(files.outOfBounds);
    if (r == VCDIFF_OK) {
        EXPECT_TRUE(files.written == Bytes(out.get(), out.get() + size)) << "through files: other bytes";
        EXPECT_EQ(size, files.size);
    }
    if (r != VCDIFF_OK) {
        EXPECT_EQ(0u, size) << "size not cleared after " << ResultName(r);
        return {r, {}};
    }
    EXPECT_LE(size, capacity);
    return {r, Bytes(out.get(), out.get() + size)};
}

Bytes Str(const std::string &s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes operator+(const Bytes &a, const Bytes &b) { return Cat(a, b); }
Bytes Slice(const Bytes &b, size_t pos, size_t n) { return Bytes(b.begin() + pos, b.begin() + pos + n); }

// ---- Inputs ----------------------------------------------------------------


Bytes Text(unsigned seed, size_t n) {
    static const char *const words[] = {"wayfront", "tolvane", "the ", "route", "harbour", "ledger",
                                        "\r\n", "of ", "and ", "patch", "version 1.0", "cargo "};
    Rng rng(seed);
    std::string s;
    while (s.size() < n) s += words[rng.Below(12)], s += ' ';
    s.resize(n);
    return Str(s);
}

// A PE-like image: header, code made of functions that call each other
// through relative offsets, a string table and a table of absolute function
// addresses. Inserting a function shifts every later address, as a rebuilt
// program does.
Bytes PeLike(unsigned seed, bool extraFunction, const char *version) {
    const int kFunctions = 150;
    std::vector<Bytes> bodies;
    for (int i = 0; i < kFunctions; ++i) {
        if (extraFunction && i == kFunctions / 2) bodies.push_back(Random(seed + 999, 700));
        Rng rng(seed * 1000 + i);
        Bytes f = {0x55, 0x8B, 0xEC, 0x83, 0xEC, (BYTE)(rng.Below(16) * 4)};
        static const BYTE ops[] = {0x8B, 0x45, 0x89, 0x4D, 0x03, 0x33, 0xC0, 0x50, 0x6A, 0x74, 0x0F, 0x85};
        unsigned len = 40 + rng.Below(400);
        while (f.size() < len) {
            if (rng.Below(10) == 0) {
                f.push_back(0xE8);  // call: the callee's index, resolved below
                unsigned callee = rng.Below(kFunctions);
                for (int k = 0; k < 4; ++k) f.push_back(k == 0 ? 0xFF : (BYTE)(callee >> (8 * (k - 1))));
            } else {
                f.push_back(ops[rng.Below(12)]);
            }
        }
        for (BYTE b : {0x8B, 0xE5, 0x5D, 0xC3}) f.push_back(b);
        while (f.size() % 16) f.push_back(0xCC);
        bodies.push_back(f);
    }
    Bytes image(1024, 0);
    image[0] = 'M', image[1] = 'Z', image[0x3C] = 0x80;
    image[0x80] = 'P', image[0x81] = 'E';
    image[0x88] = extraFunction ? 0x42 : 0x17;  // time stamp
    std::vector<DWORD> starts;
    DWORD at = 0x1000;
    for (auto &f : bodies) starts.push_back(at), at += (DWORD)f.size();
    // Resolve the calls; the extra function's index shifts the later ones.
    for (size_t i = 0; i < bodies.size(); ++i) {
        Bytes &f = bodies[i];
        for (size_t k = 0; k + 5 <= f.size(); ++k) {
            if (f[k] != 0xE8 || f[k + 1] != 0xFF) continue;
            unsigned callee = f[k + 2] | f[k + 3] << 8;
            if (callee >= (unsigned)kFunctions) continue;
            if (extraFunction && callee >= (unsigned)kFunctions / 2) ++callee;
            DWORD rel = starts[callee] - (starts[i] + (DWORD)k + 5);
            for (int b = 0; b < 4; ++b) f[k + 1 + b] = (BYTE)(rel >> (8 * b));
            k += 4;
        }
        image = Cat(image, f);
    }
    for (int i = 0; i < 200; ++i)
        image = Cat(image, Str("Tolvane Wayfront " + std::string(version) + " message " + std::to_string(i)));
    image.resize(image.size() + 3000, 0);
    for (DWORD s : starts)
        for (int b = 0; b < 4; ++b) image.push_back((BYTE)((s + 0x400000) >> (8 * b)));
    return image;
}

// ---- xdelta3 ---------------------------------------------------------------

// Runs xdelta3 to encode `target` against `source` (none when null).
Bytes XDelta(const Bytes *source, const Bytes &target, const std::string &options) {
    ScratchDir dir("vcdiff-test");
    std::string cmd = std::string(WF_XDELTA3) + " -e -f -S none " + options;
    if (source) cmd += " -s '" + dir.Put("old", *source) + "'";
    cmd += " '" + dir.Put("new", target) + "' '" + dir.File("delta") + "' 2>'" + dir.File("err") + "'";
    int rc = std::system(cmd.c_str());
    EXPECT_EQ(0, rc) << cmd << "\n" << dir.Get("err");
    return dir.Get<Bytes>("delta");
}

std::string PrintDelta(const Bytes &delta) {
    ScratchDir dir("vcdiff-test");
    const std::string cmd =
        std::string(WF_XDELTA3) + " printdelta '" + dir.Put("delta", delta) + "' >'" + dir.File("out") + "'";
    EXPECT_EQ(0, std::system(cmd.c_str()));
    return dir.Get("out");
}

int Count(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The inputs the real-delta tests are built from.
const Bytes &BigOld() {
    static const Bytes b = Cat(Cat(Text(7, 80000), Random(8, 60000)), PeLike(9, false, "1.0"));
    return b;
}
const Bytes &BigNew() {
    static const Bytes b = [] {
        const Bytes &o = BigOld();
        // Blocks moved, one replaced, some text inserted and the end changed.
        return Cat(Cat(Cat(Slice(o, 90000, 50000), Text(11, 3000)), Cat(Slice(o, 0, 70000), Random(12, 8000))),
                   PeLike(9, true, "1.1"));
    }();
    return b;
}
// A few windows' worth with -W 16384, for the damage tests.
const Bytes &MidOld() {
    static const Bytes b = Slice(BigOld(), 0, 60000);
    return b;
}
const Bytes &MidNew() {
    static const Bytes b = Cat(Slice(BigNew(), 40000, 30000), Slice(MidOld(), 100, 20000));
    return b;
}
const Bytes &SmallOld() {
    static const Bytes b = Str("hello world, this is the old file. abcdefghijklmnop");
    return b;
}
const Bytes &SmallNew() {
    static const Bytes b = Str("hello brave world, this is the new file. abcdefghijklmnopqrstuvwxyz");
    return b;
}

// ---- Real deltas -------------------------------------------------------------

struct RoundTrip {
    const char *name;
    Bytes source;
    bool useSource;
    Bytes target;
    std::string options;
};

TEST(VcdiffXdelta3, DecodesByteExactly) {
    const Bytes text = Text(1, 30000);
    const Bytes pe = PeLike(3, false, "1.0");
    Bytes grown = Cat(Cat(Slice(text, 0, 10000), Random(4, 2000)), Cat(Slice(text, 10000, 20000), Text(5, 9000)));
    Bytes shrunk = Cat(Slice(text, 0, 5000), Slice(text, 17000, 6000));
    Bytes repetitive = Cat(Bytes(20000, 0), Cat(Text(6, 100), Bytes(5000, 0xFF)));
    for (int i = 0; i < 300; ++i) repetitive = Cat(repetitive, Str("ABCDEFG"));
    const std::vector<RoundTrip> cases = {
        {"empty to empty", {}, true, {}, ""},
        {"to empty", text, true, {}, ""},
        {"from empty", {}, true, text, ""},
        {"no source", {}, false, text, ""},
        {"identical", pe, true, pe, ""},
        {"fully different", Random(20, 50000), true, Random(21, 50000), ""},
        {"larger target", text, true, grown, ""},
        {"smaller target", text, true, shrunk, ""},
        {"runs and self copies", text, true, repetitive, ""},
        {"inserted function", pe, true, PeLike(3, true, "1.1"), ""},
        {"inserted function, no checksum", pe, true, PeLike(3, true, "1.1"), "-n"},
        {"inserted function, no app header", pe, true, PeLike(3, true, "1.1"), "-A"},
        {"inserted function, neither", pe, true, PeLike(3, true, "1.1"), "-n -A"},
        {"inserted function, fastest", pe, true, PeLike(3, true, "1.1"), "-1"},
        {"inserted function, best", pe, true, PeLike(3, true, "1.1"), "-9"},
        {"several windows", BigOld(), true, BigNew(), "-W 16384"},
        {"several windows, no checksum", BigOld(), true, BigNew(), "-W 16384 -n"},
        {"several windows, no source", {}, false, BigNew(), "-W 16384"},
        {"small source window", Cat(BigOld(), Cat(Random(30, 700000), BigOld())),
         true, Cat(Cat(BigNew(), Random(31, 5000)), Slice(BigOld(), 1000, 150000)), "-B 524288 -W 65536"},
    };
    for (const RoundTrip &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes delta = XDelta(c.useSource ? &c.source : nullptr, c.target, c.options);
        ASSERT_FALSE(delta.empty());
        Decoded d = Decode(c.source, delta, c.target.size());
        EXPECT_STREQ("OK", ResultName(d.result));
        EXPECT_TRUE(d.out == c.target) << "got " << d.out.size() << " bytes, expected " << c.target.size();
    }
}

// The cases above rely on these being what xdelta3 writes.
TEST(VcdiffXdelta3, OptionsGiveTheExpectedLayout) {
    std::string plain = PrintDelta(XDelta(&SmallOld(), SmallNew(), ""));
    EXPECT_EQ(1, Count(plain, "VCD_APPHEADER"));
    EXPECT_EQ(1, Count(plain, "VCD_ADLER32"));
    std::string bare = PrintDelta(XDelta(&SmallOld(), SmallNew(), "-n -A"));
    EXPECT_EQ(0, Count(bare, "VCD_APPHEADER"));
    EXPECT_EQ(0, Count(bare, "VCD_ADLER32"));
    EXPECT_GE(Count(PrintDelta(XDelta(&BigOld(), BigNew(), "-W 16384")), "window number:"), 10);
}

TEST(VcdiffXdelta3, CapacityMustHoldTheWholeTarget) {
    Bytes delta = XDelta(&BigOld(), BigNew(), "-W 16384");
    EXPECT_STREQ("TOO_LARGE", ResultName(Decode(BigOld(), delta, BigNew().size() - 1).result));
    EXPECT_STREQ("TOO_LARGE", ResultName(Decode(BigOld(), delta, 0).result));
    EXPECT_STREQ("OK", ResultName(Decode(BigOld(), delta, BigNew().size() + 100).result));
}

// A window's checksum catches a changed byte of its data; without one the
// change goes through. With -A the layout of this small delta is fixed:
// header, then indicator 0x05 and one-byte lengths, the checksum at 14 and
// the ADD data at 18; without the checksum (0x01) the data starts at 14.
TEST(VcdiffXdelta3, ChecksumCatchesDamage) {
    Bytes withSum = XDelta(&SmallOld(), SmallNew(), "-A");
    ASSERT_GT(withSum.size(), 20u);
    ASSERT_EQ(0x05, withSum[5]);
    Bytes badSum = withSum;
    badSum[14] ^= 0x01;
    EXPECT_STREQ("BAD_CHECKSUM", ResultName(Decode(SmallOld(), badSum, 100).result));
    Bytes badData = withSum;
    badData[18] ^= 0x20;
    EXPECT_STREQ("BAD_CHECKSUM", ResultName(Decode(SmallOld(), badData, 100).result));

    Bytes noSum = XDelta(&SmallOld(), SmallNew(), "-A -n");
    ASSERT_EQ(0x01, noSum[5]);
    noSum[14] ^= 0x20;
    Decoded d = Decode(SmallOld(), noSum, 100);
    EXPECT_STREQ("OK", ResultName(d.result));
    EXPECT_EQ(SmallNew().size(), d.out.size());
    EXPECT_FALSE(d.out == SmallNew());
}

TEST(VcdiffXdelta3, EveryCutOfAOneWindowDeltaIsTruncated) {
    for (const char *options : {"", "-n -A"}) {
        Bytes delta = XDelta(&SmallOld(), SmallNew(), options);
        for (size_t n = 0; n < delta.size(); ++n) {
            Decoded d = Decode(SmallOld(), Slice(delta, 0, n), 100);
            EXPECT_STREQ("TRUNCATED", ResultName(d.result)) << "options '" << options << "', cut at " << n;
        }
    }
}

// Between windows a cut cannot be seen: it decodes to a prefix.
TEST(VcdiffXdelta3, CutsOfASeveralWindowDeltaGiveAPrefixAtMost) {
    Bytes delta = XDelta(&MidOld(), MidNew(), "-W 16384");
    int prefixes = 0;
    for (size_t n = 0; n < delta.size(); ++n) {
        Decoded d = Decode(MidOld(), Slice(delta, 0, n), MidNew().size());
        if (d.result == VCDIFF_OK) {
            ++prefixes;
            EXPECT_LT(d.out.size(), MidNew().size()) << "cut at " << n;
            EXPECT_TRUE(std::equal(d.out.begin(), d.out.end(), MidNew().begin())) << "cut at " << n;
        } else {
            EXPECT_STREQ("TRUNCATED", ResultName(d.result)) << "cut at " << n;
        }
    }
    EXPECT_EQ(3, prefixes);  // 50000 bytes in four windows
}

// Random damage: every result is allowed, a crash or a stray access is not.
TEST(VcdiffXdelta3, RandomByteFlipsNeverEscapeTheBuffers) {
    Rng rng(77);
    int counts[VCDIFF_BAD_CHECKSUM + 1] = {};
    for (const char *options : {"-W 16384", "-W 16384 -n"}) {
        const Bytes &source = MidOld(), &target = MidNew();
        Bytes delta = XDelta(&source, target, options);
        for (int i = 0; i < 2000; ++i) {
            Bytes damaged = delta;
            for (unsigned k = 0, n = 1 + rng.Below(3); k < n; ++k)
                damaged[rng.Below((unsigned)damaged.size())] ^= (BYTE)(1 + rng.Below(255));
            int r = Decode(source, damaged, target.size() + rng.Below(2) * 5000).result;
            ASSERT_TRUE(r >= VCDIFF_OK && r <= VCDIFF_BAD_CHECKSUM) << r;
            ++counts[r];
        }
    }
    std::string summary;
    for (int r = 0; r <= VCDIFF_BAD_CHECKSUM; ++r) summary += std::string(ResultName(r)) + "=" + std::to_string(counts[r]) + " ";
    RecordProperty("results", summary);
    std::printf("byte flips: %s\n", summary.c_str());
    EXPECT_GT(counts[VCDIFF_BAD_CHECKSUM], 0);
    EXPECT_GT(counts[VCDIFF_BAD_ADDRESS] + counts[VCDIFF_BAD_INSTRUCTION] + counts[VCDIFF_BAD_WINDOW], 0);
}

TEST(VcdiffXdelta3, DecodingSpeedOnAMegabyte) {
    Bytes source = Cat(BigOld(), Random(40, 1048576 - BigOld().size()));
    Bytes target = Cat(Cat(Slice(source, 500000, 500000), BigNew()), Slice(source, 0, 1048576 - 500000 - BigNew().size()));
    Bytes delta = XDelta(&source, target, "");
    auto start = std::chrono::steady_clock::now();
    Decoded d = Decode(source, delta, target.size());
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(d.result == VCDIFF_OK && d.out == target);
    std::printf("decoded %zu bytes from a %zu-byte delta in %.1f ms\n", target.size(), delta.size(), ms);
    RecordProperty("milliseconds", std::to_string(ms));
}

// ---- Hand-assembled deltas ---------------------------------------------------

void PutVarint(Bytes &b, unsigned long long v) {
    BYTE tmp[10];
    int n = 0;
    do tmp[n++] = (BYTE)(v & 0x7F), v >>= 7;
    while (v);
    while (n > 1) b.push_back(tmp[--n] | 0x80);
    b.push_back(tmp[0]);
}

Bytes Header(BYTE indicator = 0, const Bytes &rest = {}) { return Cat({0xD6, 0xC3, 0xC4, 0x00, indicator}, rest); }

struct Win {
    BYTE indicator = 0;
    DWORD segLength = 0, segPos = 0;
    unsigned long long targetLength = 0;
    Bytes data, inst, addrs;
    DWORD adler = 0;           // written when indicator has 0x04
    BYTE deltaIndicator = 0;
    int encodingSlack = 0;     // added to the encoding length as written
};

Bytes Window(const Win &w) {
    Bytes enc;
    PutVarint(enc, w.targetLength);
    enc.push_back(w.deltaIndicator);
    PutVarint(enc, w.data.size());
    PutVarint(enc, w.inst.size());
    PutVarint(enc, w.addrs.size());
    if (w.indicator & 0x04)
        for (int s = 24; s >= 0; s -= 8) enc.push_back((BYTE)(w.adler >> s));
    enc = Cat(Cat(Cat(enc, w.data), w.inst), w.addrs);
    Bytes out = {w.indicator};
    if (w.indicator & 0x03) PutVarint(out, w.segLength), PutVarint(out, w.segPos);
    PutVarint(out, enc.size() + w.encodingSlack);
    return Cat(out, enc);
}

// A window over the source segment src[0..segLength).
Win FromSource(DWORD segLength, unsigned long long targetLength, Bytes inst, Bytes addrs, Bytes data = {}) {
    Win w;
    w.indicator = 0x01, w.segLength = segLength, w.targetLength = targetLength;
    w.inst = inst, w.addrs = addrs, w.data = data;
    return w;
}
Win NoSource(unsigned long long targetLength, Bytes inst, Bytes addrs, Bytes data = {}) {
    Win w = FromSource(0, targetLength, inst, addrs, data);
    w.indicator = 0;
    return w;
}

struct HandCase {
    const char *name;
    Bytes source;
    Bytes delta;
    int expected;
    Bytes output;  // when expected is OK
    size_t capacity = 64;
};

void RunCases(const std::vector<HandCase> &cases) {
    for (const HandCase &c : cases) {
        Decoded d = Decode(c.source, c.delta, c.capacity);
        EXPECT_STREQ(ResultName(c.expected), ResultName(d.result)) << c.name;
        if (c.expected == VCDIFF_OK) {
            EXPECT_EQ(std::string(c.output.begin(), c.output.end()), std::string(d.out.begin(), d.out.end())) << c.name;
        }
    }
}

// Opcodes of the default code table used below, by its layout: 0 RUN;
// 1-18 ADD 0,1..17; 19-162 COPY 0,4..18 for modes 0..8; 163-234 ADD 1..4 +
// COPY 4..6 for modes 0..5; 235-246 ADD 1..4 + COPY 4 for modes 6..8;
// 247-255 COPY 4 in modes 0..8 + ADD 1.
enum : BYTE {
    RUN = 0, ADD = 1, ADD1 = 2, ADD2 = 3, ADD3 = 4, ADD11 = 12,
    COPY_SELF = 19, COPY4_SELF = 20, COPY5_SELF = 21, COPY_HERE = 35, COPY4_HERE = 36,
    COPY4_NEAR0 = 52, COPY4_NEAR1 = 68, COPY4_NEAR2 = 84, COPY4_NEAR3 = 100,
    COPY4_SAME0 = 116, COPY4_SAME1 = 132, COPY4_SAME2 = 148,
    ADD2_COPY6_SELF = 168, ADD4_COPY4_SAME2 = 246, COPY4_SELF_ADD1 = 247,
};

const Bytes kDigits = Str("0123456789");
const Bytes kLetters = Str("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN");

TEST(VcdiffHand, InstructionsAndAddressModes) {
    const Bytes far = Random(50, 1000);
    Bytes sameExpected;
    for (size_t at : {5, 5, 900, 900, 300, 300, 600, 600}) sameExpected = Cat(sameExpected, Slice(far, at, 4));
    RunCases({
        {"ADD", {}, Header() + Window(NoSource(3, {ADD3}, {}, Str("abc"))), VCDIFF_OK, Str("abc")},
        {"ADD with its size in five bytes", {},
         Header() + Window(NoSource(3, {ADD, 0x80, 0x80, 0x80, 0x80, 3}, {}, Str("abc"))), VCDIFF_OK, Str("abc")},
        {"RUN", {}, Header() + Window(NoSource(6, {RUN, 6}, {}, Str("x"))), VCDIFF_OK, Str("xxxxxx")},
        {"COPY, self", kDigits, Header() + Window(FromSource(10, 4, {COPY4_SELF}, {2})), VCDIFF_OK, Str("2345")},
        // here = 10 + 3; 13 - 10 = 3.
        {"COPY, here", kDigits, Header() + Window(FromSource(10, 7, {ADD3, COPY4_HERE}, {10}, Str("abc"))),
         VCDIFF_OK, Str("abc3456")},
        // near fills 0,10,20,30; then 30+1, 31+2 and 33+0 land in slots 0..2,
        // so the last COPY reads slot 2 as 33: 33+1.
        {"COPY, near slots and their wrap", kLetters,
         Header() + Window(FromSource(40, 32,
                                      {COPY4_SELF, COPY4_SELF, COPY4_SELF, COPY4_SELF, COPY4_NEAR3, COPY4_NEAR0,
                                       COPY4_NEAR1, COPY4_NEAR2},
                                      {0, 10, 20, 30, 1, 2, 0, 1})),
         VCDIFF_OK, Str("abcdklmnuvwxEFGHFGHIHIJKHIJKIJKL")},
        // 900 lands in same slot 900 % 768 = 132.
        {"COPY, same", far,
         Header() + Window(FromSource(1000, 32,
                                      {COPY4_SELF, COPY4_SAME0, COPY4_SELF, COPY4_SAME0, COPY4_SELF, COPY4_SAME1,
                                       COPY4_SELF, COPY4_SAME2},
                                      {5, 5, 0x87, 0x04, 132, 0x82, 0x2C, 44, 0x84, 0x58, 88})),
         VCDIFF_OK, sameExpected},
        {"COPY overlapping its own output", {},
         Header() + Window(NoSource(9, {ADD2, COPY_SELF, 7}, {0}, Str("ab"))), VCDIFF_OK, Str("ababababa")},
        {"COPY of one byte repeated", {},
         Header() + Window(NoSource(11, {ADD1, COPY_HERE, 10}, {1}, Str("z"))), VCDIFF_OK, Str("zzzzzzzzzzz")},
        {"COPY from the segment into the target", Str("xyz"),
         Header() + Window(FromSource(3, 7, {ADD1, COPY_SELF, 6}, {1}, Str("Q"))), VCDIFF_OK, Str("QyzQyzQ")},
        {"ADD 2 + COPY 6", kDigits, Header() + Window(FromSource(10, 8, {ADD2_COPY6_SELF}, {4}, Str("ab"))),
         VCDIFF_OK, Str("ab456789")},
        {"COPY 4 + ADD 1", kDigits, Header() + Window(FromSource(10, 5, {COPY4_SELF_ADD1}, {1}, Str("!"))),
         VCDIFF_OK, Str("1234!")},
        // The same cache starts at zero.
        {"ADD 4 + COPY 4 in same mode", kDigits,
         Header() + Window(FromSource(10, 8, {ADD4_COPY4_SAME2}, {0}, Str("wxyz"))), VCDIFF_OK, Str("wxyz0123")},
    });
}

TEST(VcdiffHand, Windows) {
    Win middle = FromSource(4, 4, {COPY4_SELF}, {0});
    middle.segPos = 4;
    Win fromTarget = FromSource(5, 6, {COPY5_SELF, ADD1}, {0}, Str("!"));
    fromTarget.indicator = 0x02, fromTarget.segPos = 6;
    Win checked = NoSource(9, {ADD, 9}, {}, Str("Wikipedia"));
    checked.indicator = 0x04, checked.adler = 0x11E60398;
    RunCases({
        {"source segment from the middle", kDigits, Header() + Window(middle), VCDIFF_OK, Str("4567")},
        {"segment from the target so far", {},
         Header() + Window(NoSource(11, {ADD11}, {}, Str("hello world"))) + Window(fromTarget), VCDIFF_OK,
         Str("hello worldworld!")},
        // The second window's near slot 0 is 0 again, not 6.
        {"each window starts with fresh caches", kDigits,
         Header() + Window(FromSource(10, 4, {COPY4_SELF}, {6})) + Window(FromSource(10, 4, {COPY4_NEAR0}, {1})),
         VCDIFF_OK, Str("67891234")},
        {"matching checksum", {}, Header() + Window(checked), VCDIFF_OK, Str("Wikipedia")},
        {"application header", {}, Header(0x04, Cat({5}, Str("a//b/"))) + Window(NoSource(1, {ADD1}, {}, Str("x"))),
         VCDIFF_OK, Str("x")},
        {"empty window", {}, Header() + Window(NoSource(0, {}, {})), VCDIFF_OK, {}},
    });
}

// Adler-32 the long way, one byte at a time.
DWORD ModelAdler32(const Bytes &bytes) {
    DWORD a = 1, b = 0;
    for (BYTE byte : bytes) a = (a + byte) % 65521, b = (b + a) % 65521;
    return b << 16 | a;
}

// The window checksum is worked out many bytes at a time, with the sums
// reduced every few kilobytes: every short length, lengths about those
// steps, and all-0xFF bytes, whose sums grow fastest, must check.
TEST(VcdiffHand, ChecksumOfWindowsOfEveryLength) {
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 40; ++n) lengths.push_back(n);
    for (size_t n : {4079, 4080, 4095, 4096, 4097, 4111, 4112, 5551, 5552, 5553, 8191, 8192, 8193, 70001})
        lengths.push_back(n);
    for (size_t n : lengths) {
        for (bool ones : {false, true}) {
            const Bytes data = ones ? Bytes(n, 0xFF) : Random(60 + n, n);
            Bytes inst = {ADD};
            PutVarint(inst, n);
            Win w = NoSource(n, inst, {}, data);
            w.indicator = 0x04, w.adler = ModelAdler32(data);
            Decoded d = Decode({}, Header() + Window(w), n);
            EXPECT_STREQ("OK", ResultName(d.result)) << n << (ones ? " bytes of 0xFF" : " random bytes");
            w.adler ^= 0x00010000;
            d = Decode({}, Header() + Window(w), n);
            EXPECT_STREQ("BAD_CHECKSUM", ResultName(d.result)) << n << (ones ? " bytes of 0xFF" : " random bytes");
        }
    }
}

TEST(VcdiffHand, DamagedHeadersAndWindows) {
    const Bytes one = Window(NoSource(1, {ADD1}, {}, Str("x")));
    auto with = [&](void (*change)(Win &)) {
        Win w = NoSource(1, {ADD1}, {}, Str("x"));
        change(w);
        return Header() + Window(w);
    };
    Bytes tooBig = Header() + Bytes{0x00, 9, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0};
    Bytes over32 = Header() + Bytes{0x00, 9, 0x90, 0x80, 0x80, 0x80, 0x00, 0, 0, 0, 0};
    Win wrongSum = NoSource(9, {ADD, 9}, {}, Str("Wikipedia"));
    wrongSum.indicator = 0x04, wrongSum.adler = 0x11E60399;
    RunCases({
        {"empty delta", {}, {}, VCDIFF_TRUNCATED, {}},
        {"part of the magic", {}, {0xD6, 0xC3, 0xC4}, VCDIFF_TRUNCATED, {}},
        {"no window", {}, Header(), VCDIFF_TRUNCATED, {}},
        {"not VCDIFF", {}, Bytes{'P', 'K', 3, 4, 0} + one, VCDIFF_BAD_HEADER, {}},
        {"version 1", {}, Bytes{0xD6, 0xC3, 0xC4, 0x01, 0x00} + one, VCDIFF_BAD_HEADER, {}},
        {"unknown header bit", {}, Header(0x08) + one, VCDIFF_BAD_HEADER, {}},
        {"secondary compressor", {}, Header(0x01, {2}) + one, VCDIFF_UNSUPPORTED, {}},
        {"custom code table", {}, Header(0x02, {3, 0, 0, 0}) + one, VCDIFF_UNSUPPORTED, {}},
        {"application header past the end", {}, Header(0x04, {9, 'a'}), VCDIFF_TRUNCATED, {}},
        {"compressed section", {}, with([](Win &w) { w.deltaIndicator = 0x04; }), VCDIFF_UNSUPPORTED, {}},
        {"unknown delta indicator bit", {}, with([](Win &w) { w.deltaIndicator = 0x08; }), VCDIFF_BAD_WINDOW, {}},
        {"source and target segment", kDigits, with([](Win &w) { w.indicator = 0x03; }), VCDIFF_BAD_WINDOW, {}},
        {"unknown window bit", {}, with([](Win &w) { w.indicator = 0x08; }), VCDIFF_BAD_WINDOW, {}},
        {"segment past the source", kDigits, with([](Win &w) { w.indicator = 1, w.segLength = 5, w.segPos = 6; }),
         VCDIFF_BAD_WINDOW, {}},
        {"segment end past 32 bits", kDigits,
         with([](Win &w) { w.indicator = 1, w.segLength = 0xFFFFFFFF, w.segPos = 2; }), VCDIFF_BAD_WINDOW, {}},
        {"segment past the target so far", {}, with([](Win &w) { w.indicator = 2, w.segLength = 1; }),
         VCDIFF_BAD_WINDOW, {}},
        {"encoding length past its fields", {}, with([](Win &w) { w.encodingSlack = 1; }) + Bytes{0},
         VCDIFF_BAD_WINDOW, {}},
        {"encoding length past the end", {}, with([](Win &w) { w.encodingSlack = 1; }), VCDIFF_TRUNCATED, {}},
        // One byte: the target length; the delta indicator after it lies outside.
        {"encoding length inside its fields", {}, Header() + Bytes{0x00, 1, 0x00, 0x01, 0, 0, 0}, VCDIFF_BAD_WINDOW, {}},
        {"encoding length short of its sections", {}, with([](Win &w) { w.encodingSlack = -1; }) + Bytes{0},
         VCDIFF_BAD_WINDOW, {}},
        {"target length 2^32 - 1", {}, tooBig, VCDIFF_TOO_LARGE, {}},
        {"target length 2^32", {}, over32, VCDIFF_BAD_WINDOW, {}},
        {"wrong checksum", {}, Header() + Window(wrongSum), VCDIFF_BAD_CHECKSUM, {}},
        {"target larger than the capacity", {}, Header() + Window(NoSource(3, {ADD3}, {}, Str("abc"))),
         VCDIFF_TOO_LARGE, {}, 2},
        {"second window past the capacity", {},
         Header() + Window(NoSource(3, {ADD3}, {}, Str("abc"))) + Window(NoSource(3, {ADD3}, {}, Str("abc"))),
         VCDIFF_TOO_LARGE, {}, 5},
    });
}

TEST(VcdiffHand, DamagedInstructionsAndAddresses) {
    auto in = [](Win w) { return Header() + Window(w); };
    RunCases({
        {"ADD past the window", {}, in(NoSource(2, {ADD3}, {}, Str("abc"))), VCDIFF_BAD_INSTRUCTION, {}},
        {"ADD past the data", {}, in(NoSource(3, {ADD3}, {}, Str("ab"))), VCDIFF_BAD_INSTRUCTION, {}},
        {"RUN without its byte", {}, in(NoSource(3, {RUN, 3}, {})), VCDIFF_BAD_INSTRUCTION, {}},
        {"size missing", {}, in(NoSource(3, {ADD}, {}, Str("abc"))), VCDIFF_BAD_INSTRUCTION, {}},
        {"size in six bytes", {}, in(NoSource(1, {ADD, 0x80, 0x80, 0x80, 0x80, 0x80, 1}, {}, Str("a"))),
         VCDIFF_BAD_INSTRUCTION, {}},
        {"size over 32 bits", {}, in(NoSource(1, {ADD, 0x90, 0x80, 0x80, 0x80, 0x00}, {}, Str("a"))),
         VCDIFF_BAD_INSTRUCTION, {}},
        {"COPY past the window", kDigits, in(FromSource(10, 3, {COPY4_SELF}, {0})), VCDIFF_BAD_INSTRUCTION, {}},
        {"COPY without its address", kDigits, in(FromSource(10, 4, {COPY4_SELF}, {})), VCDIFF_BAD_INSTRUCTION, {}},
        {"window not filled", {}, in(NoSource(5, {ADD3}, {}, Str("abc"))), VCDIFF_BAD_WINDOW, {}},
        {"data left over", {}, in(NoSource(3, {ADD3}, {}, Str("abcd"))), VCDIFF_BAD_WINDOW, {}},
        {"address left over", kDigits, in(FromSource(10, 4, {COPY4_SELF}, {0, 0})), VCDIFF_BAD_WINDOW, {}},
        {"address at here", {}, in(NoSource(5, {ADD1, COPY4_SELF}, {1}, Str("a"))), VCDIFF_BAD_ADDRESS, {}},
        {"address at the segment's end", kDigits, in(FromSource(10, 4, {COPY4_SELF}, {10})), VCDIFF_BAD_ADDRESS, {}},
        {"here offset before the start", kDigits, in(FromSource(10, 4, {COPY4_HERE}, {11})), VCDIFF_BAD_ADDRESS, {}},
        {"near address past here", kDigits, in(FromSource(10, 4, {COPY4_NEAR0}, {10})), VCDIFF_BAD_ADDRESS, {}},
        {"same address at an empty start", {}, in(NoSource(4, {COPY4_SAME0}, {0})), VCDIFF_BAD_ADDRESS, {}},
        {"address over 32 bits", kDigits, in(FromSource(10, 4, {COPY4_SELF}, {0x90, 0x80, 0x80, 0x80, 0x00})),
         VCDIFF_BAD_ADDRESS, {}},
    });
}

TEST(VcdiffResultText, EveryResultHasItsOwnText) {
    std::vector<std::string> seen;
    for (int r = VCDIFF_OK; r <= VCDIFF_WRITE_FAILED + 1; ++r) {
        std::string text = VcdiffResultText(r);
        EXPECT_FALSE(text.empty()) << r;
        EXPECT_EQ(seen.end(), std::find(seen.begin(), seen.end(), text)) << r << ": " << text;
        seen.push_back(text);
    }
}

}  // namespace
