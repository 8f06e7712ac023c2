// CompareVersions against a model: split each version into its numbers,
// compare the first pair that differs in 64 bits, and take the sign. The
// first number is the string's leading ParseCount value (blanks and a sign
// allowed); every later one is a run of digits, reached by stepping over
// characters (double-byte ones whole, in code page 932). Comparing stops
// when either string runs out.
//
// Input: one byte choosing the code page (odd: 932), then the two versions
// separated by a NUL.
//
// The builder's copy (patchbuild::CompareVersions), which decides which
// shared files its model of the machine after the patch replaces, must give
// the same sign in code page 1252 (the only one it knows).
#include <cstdint>
#include <string>
#include <vector>

#include "after_model.h"
#include "commit/shared_usage.h"
#include "fuzz_check.h"
#include "winsim.h"

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

int32_t Wrapped(uint64_t value) { return (int32_t)(uint32_t)value; }

// The leading number, as ParseCount reads it.
int32_t Leading(const std::string &s)
{
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    uint64_t v = 0;
    for (; i < s.size() && Digit(s[i]); ++i)
        v = (v * 10 + (uint64_t)(s[i] - '0')) & 0xFFFFFFFFull;
    return Wrapped(negative ? (0 - v) : v);
}

bool Lead932(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::vector<int64_t> Numbers(const std::string &s, bool dbcs)
{
    std::vector<int64_t> numbers;
    if (s.empty())
        return numbers;
    numbers.push_back(Leading(s));
    size_t i = 0;
    for (;;) {
        while (i < s.size() && Digit(s[i]))
            ++i;
        while (i < s.size() && !Digit(s[i]))
            i += (dbcs && Lead932((unsigned char)s[i]) && i + 1 < s.size()) ? 2 : 1;
        if (i >= s.size())
            break;
        uint64_t v = 0;
        for (size_t j = i; j < s.size() && Digit(s[j]); ++j)
            v = (v * 10 + (uint64_t)(s[j] - '0')) & 0xFFFFFFFFull;
        numbers.push_back(Wrapped(v));
    }
    return numbers;
}

int Sign(int64_t v) { return (v > 0) - (v < 0); }

int ModelSign(const std::string &a, const std::string &b, bool dbcs)
{
    const std::vector<int64_t> x = Numbers(a, dbcs), y = Numbers(b, dbcs);
    for (size_t i = 0; i < x.size() && i < y.size(); ++i)
        if (x[i] != y[i])
            return Sign(x[i] - y[i]);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // CharNextA needs a machine for its code page; nothing here touches files.
    winsim::Reset(std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/wf_fuzz_cv");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    const bool dbcs = bytes[0] & 1;
    const std::string rest(reinterpret_cast<const char *>(bytes) + 1, size - 1);
    const size_t split = rest.find('\0');
    const std::string a = rest.substr(0, split).c_str();
    const std::string b = split == std::string::npos ? std::string() : rest.substr(split + 1).c_str();

    winsim::SetCodePage(dbcs ? 932 : 1252);
    const int expected = ModelSign(a, b, dbcs);
    const int got = Sign(CompareVersions(a.c_str(), b.c_str()));
    FUZZ_CHECK(got == expected, "CompareVersions(\"%s\", \"%s\") in code page %d: sign %d, expected %d",
               a.c_str(), b.c_str(), dbcs ? 932 : 1252, got, expected);
    // Swapping the versions turns the sign round.
    const int swapped = Sign(CompareVersions(b.c_str(), a.c_str()));
    FUZZ_CHECK(swapped == -got, "CompareVersions(\"%s\", \"%s\") and swapped: %d, %d", a.c_str(),
               b.c_str(), got, swapped);
    if (!dbcs) {
        const int builder = Sign(patchbuild::CompareVersions(a, b));
        FUZZ_CHECK(builder == expected,
                   "patchbuild::CompareVersions(\"%s\", \"%s\"): sign %d, the installer's %d",
                   a.c_str(), b.c_str(), builder, expected);
    }
    return 0;
}
