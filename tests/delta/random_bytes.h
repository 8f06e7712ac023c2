// Reproducible pseudo-random bytes for the VCDIFF tests: a small xorshift
// generator, so a seed gives the same inputs on every machine and library.
#ifndef WF_TESTS_DELTA_RANDOM_BYTES_H
#define WF_TESTS_DELTA_RANDOM_BYTES_H

#include <cstddef>
#include <cstdint>
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

#endif
