// ParseCount, the installer's reading of counts and checksums, against a
// model written from its contract: blanks skipped (the C locale's white
// space), one optional sign, decimal digits to the first non-digit, the
// value taken modulo 2^32 and read as a signed 32-bit number. The builder's
// copy (patchbuild::ParseCount, which predicts what the installer will do)
// must agree too.
#include <cstdint>
#include <string>

#include "after_model.h"
#include "fuzz_check.h"
#include "manifest/manifest.h"

namespace {

int32_t Model(const std::string &text)
{
    size_t i = 0;
    while (i < text.size() && std::string(" \t\n\v\f\r").find(text[i]) != std::string::npos)
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    // Exact value modulo 2^32, kept in 64 bits.
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = (value * 10 + (uint64_t)(text[i] - '0')) % 0x100000000ull;
    if (negative)
        value = (0x100000000ull - value) % 0x100000000ull;
    return value >= 0x80000000ull ? (int32_t)((int64_t)value - 0x100000000ll) : (int32_t)value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    // The text up to the first NUL, as the installer would see it.
    std::string text(reinterpret_cast<const char *>(bytes), size);
    text = text.c_str();
    const int32_t expected = Model(text);
    const LONG got = ParseCount(text.c_str());
    FUZZ_CHECK(got == expected, "ParseCount(\"%s\") = %d, expected %d", text.c_str(), (int)got,
               (int)expected);
    const int32_t builder = patchbuild::ParseCount(text.c_str());
    FUZZ_CHECK(builder == expected, "patchbuild::ParseCount(\"%s\") = %d, expected %d",
               text.c_str(), (int)builder, (int)expected);
    return 0;
}
