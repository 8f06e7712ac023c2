// Reproducible inputs for the delta coders' tests: a small xorshift
// generator, so a seed gives the same inputs on every machine and library,
// and the shapes built from it (programs, random edits).
#ifndef WF_TESTS_DELTA_RANDOM_BYTES_H
#define WF_TESTS_DELTA_RANDOM_BYTES_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

struct Rng {
    unsigned long long s;
    explicit Rng(unsigned long long seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    unsigned Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<unsigned>(s >> 11);
    }
    // 0 for an empty range.
    unsigned Below(unsigned n) { return n == 0 ? 0 : Next() % n; }
};

inline std::vector<std::uint8_t> Random(unsigned seed, std::size_t n) {
    Rng rng(seed);
    std::vector<std::uint8_t> b(n);
    for (auto &x : b) x = static_cast<std::uint8_t>(rng.Next());
    return b;
}

using Bytes = std::vector<std::uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes Fill(size_t n, std::uint8_t value) { return Bytes(n, value); }

// A program-like image: functions that hold the absolute addresses of
// other functions. In the rebuilt version one function in the middle is
// longer, so every later function moves and every address of one changes,
// as when a program is compiled again after a small change.
inline Bytes Program(unsigned seed, bool rebuilt) {
    const int kFunctions = 160;
    Rng shape(seed);
    std::vector<Bytes> bodies;
    for (int i = 0; i < kFunctions; ++i) {
        Bytes f = Random(seed * 1000 + i, 24 + shape.Below(200));
        for (size_t k = 0; k < f.size(); ++k) f[k] &= 0x3F;  // a small "instruction set"
        if (rebuilt && i == kFunctions / 2) f.resize(f.size() + 37, 0x90);
        bodies.push_back(f);
    }
    std::vector<std::uint32_t> starts;
    std::uint32_t at = 0x401000;
    for (const Bytes &f : bodies) starts.push_back(at), at += static_cast<std::uint32_t>(f.size() + 8);
    Bytes image = Fill(512, 0);
    image[0] = 'M', image[1] = 'Z';
    Rng calls(seed + 7);
    for (size_t i = 0; i < bodies.size(); ++i) {
        image.insert(image.end(), bodies[i].begin(), bodies[i].end());
        const std::uint32_t callee = starts[calls.Below(kFunctions)];
        image.push_back(0xFF), image.push_back(0x15);
        for (int b = 0; b < 4; ++b) image.push_back(static_cast<std::uint8_t>(callee >> (8 * b)));
        image.push_back(0xC3), image.push_back(0xCC);
    }
    image.resize(image.size() + 2000, 0);
    for (std::uint32_t s : starts)
        for (int b = 0; b < 4; ++b) image.push_back(static_cast<std::uint8_t>(s >> (8 * b)));
    return image;
}

// `old` with up to 11 random edits: new bytes, cuts, changed bytes, earlier
// stretches repeated, runs; small and large alike.
inline Bytes RandomEdits(Rng *rng, const Bytes &old) {
    Bytes target = old;
    for (unsigned edits = rng->Below(12); edits > 0; --edits) {
        const size_t at = rng->Below(static_cast<unsigned>(target.size() + 1));
        const size_t n = 1 + rng->Below(rng->Below(2) ? 8 : 2000);
        switch (rng->Below(5)) {
        case 0: {  // new bytes
            const Bytes fresh = Random(rng->Next(), n);
            target.insert(target.begin() + at, fresh.begin(), fresh.end());
            break;
        }
        case 1:  // a cut
            target.erase(target.begin() + at, target.begin() + std::min(target.size(), at + n));
            break;
        case 2:  // changed bytes
            for (size_t i = at; i < std::min(target.size(), at + n); ++i) target[i] ^= 1 + rng->Below(255);
            break;
        case 3: {  // an earlier stretch repeated
            const size_t from = rng->Below(static_cast<unsigned>(target.size() + 1));
            const Bytes copy(target.begin() + from, target.begin() + std::min(target.size(), from + n));
            target.insert(target.begin() + at, copy.begin(), copy.end());
            break;
        }
        default:  // a run
            target.insert(target.begin() + at, n * 10, static_cast<std::uint8_t>(rng->Below(2) * 0xFF));
        }
    }
    return target;
}

#endif
