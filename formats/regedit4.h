// REGEDIT4 text, the format regedit (and Wine's regedit) import and export:
// reading it into the keys and values it names, and writing them back. The
// registry itself is the caller's: winsim applies what is read to its
// simulated registry, the builder to its model of a machine image.
//
// Reading also takes version 5 files ("Windows Registry Editor Version
// 5.00", UTF-16 with its byte-order mark), whose text is narrowed to single
// bytes (characters up to U+00FF; anything beyond is refused). Strings are
// read and written in the caller's code page: a double-byte character is
// never split, so a trail byte 0x5C is not taken for a backslash.
#ifndef WF_FORMATS_REGEDIT4_H
#define WF_FORMATS_REGEDIT4_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace formats {

// Value types, numbered as the registry numbers them.
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

// The lead-byte test of the text's code page; null for a single-byte one.
using LeadByteTest = bool (*)(unsigned char);

struct RegTextValue {
    std::string name;  // empty: the key's default value ("@")
    std::uint32_t type = kRegSz;
    std::string data;     // the bytes as stored: a "text" REG_SZ ends in its terminator
    bool remove = false;  // "name"=- : the value is deleted
};

struct RegTextKey {
    std::size_t line = 0;  // of its [key] line, for the caller's own refusals
    std::string path;      // as written between the brackets, without a deletion's "-"
    bool remove = false;   // [-path]: the key and its tree deleted; the values after it are ignored
    std::vector<RegTextValue> values;
};

// Reads the text. Returns false with "line N: reason" in *error at the first
// line it cannot read; *keys then holds what the lines before it said,
// which regedit would have carried out. The caller judges the key paths.
bool ParseRegText(const std::string &text, std::vector<RegTextKey> *keys, std::string *error,
                  LeadByteTest isLead = nullptr);

// One value line, without its line end: a REG_SZ as "text" when reading it
// back gives the same bytes, a REG_DWORD of four bytes as dword:, anything
// else as a hex list (hex: for REG_BINARY, hex(N): for the others), unwrapped.
std::string FormatRegValue(const RegTextValue &value, LeadByteTest isLead = nullptr);

// The REGEDIT4 header, a blank line, then each key ([path], its values in
// the order given, a blank line), every line ending in `newline`.
std::string WriteRegText(const std::vector<RegTextKey> &keys, const char *newline,
                         LeadByteTest isLead = nullptr);

}  // namespace formats

#endif
