#include "pif_template.h"

namespace piftemplate {

namespace {

// Where each part of the file starts.
constexpr std::size_t kHeading1 = kBasicSize;                        // 369
constexpr std::size_t kHeading2 = kHeading1 + kHeadingSize;          // 391
constexpr std::size_t kWin386 = kHeading2 + kHeadingSize;            // 413
constexpr std::size_t kHeading3 = kWin386 + kWin386Size;             // 517
constexpr std::size_t kVmm = kHeading3 + kHeadingSize;               // 539
static_assert(kVmm + kVmmSize == kPifSize, "the VMM data runs to the end of the file");

constexpr std::uint32_t kLastHeading = 0xFFFF;

//  field                                   offset            size  number   text
constexpr PifField kFields[] = {
    // Basic section.
    {"reserved",                            0,                1,    0,       nullptr},
    {"checksum (never recomputed)",         1,                1,    0x78,    nullptr},
    {"title",                               2,                30,   0,       "PATCH                         "},
    {"maximum memory, KB",                  32,               2,    640,     nullptr},
    {"minimum memory, KB",                  34,               2,    0,       nullptr},
    {"program file name",                   36,               63,   0,       "PATCH.EXE"},
    {"flags: close window on exit",         99,               1,    0x10,    nullptr},
    {"reserved",                            100,              1,    0,       nullptr},
    {"start-up directory",                  101,              64,   0,       ""},
    {"parameters",                          165,              64,   0,       ""},
    {"video mode",                          229,              1,    0,       nullptr},
    {"screen pages",                        230,              1,    1,       nullptr},
    {"first interrupt vector saved",        231,              1,    0,       nullptr},
    {"last interrupt vector saved",         232,              1,    0xFF,    nullptr},
    {"screen rows",                         233,              1,    25,      nullptr},
    {"screen columns",                      234,              1,    80,      nullptr},
    {"window row",                          235,              1,    0,       nullptr},
    {"window column",                       236,              1,    0,       nullptr},
    {"system memory",                       237,              2,    7,       nullptr},
    {"shared program file",                 239,              64,   0,       ""},
    {"shared program data file",           303,              64,   0,       ""},
    {"further flags",                       367,              2,    0,       nullptr},
    // Heading of the basic section.
    {"heading 1 name",                      kHeading1,        16,   0,       "MICROSOFT PIFEX"},
    {"heading 1 next heading",              kHeading1 + 16,   2,    kHeading2, nullptr},
    {"heading 1 data offset",               kHeading1 + 18,   2,    0,       nullptr},
    {"heading 1 data length",               kHeading1 + 20,   2,    kBasicSize, nullptr},
    // "WINDOWS 386 3.0" heading and data.
    {"heading 2 name",                      kHeading2,        16,   0,       "WINDOWS 386 3.0"},
    {"heading 2 next heading",              kHeading2 + 16,   2,    kHeading3, nullptr},
    {"heading 2 data offset",               kHeading2 + 18,   2,    kWin386, nullptr},
    {"heading 2 data length",               kHeading2 + 20,   2,    kWin386Size, nullptr},
    {"386: maximum conventional memory, KB", kWin386 + 0,     2,    640,     nullptr},
    {"386: minimum conventional memory, KB", kWin386 + 2,     2,    0,       nullptr},
    {"386: foreground priority",            kWin386 + 4,      2,    100,     nullptr},
    {"386: background priority",            kWin386 + 6,      2,    50,      nullptr},
    {"386: maximum expanded memory",        kWin386 + 8,      2,    0xFFFF,  nullptr},
    {"386: minimum expanded memory",        kWin386 + 10,     2,    0,       nullptr},
    {"386: maximum extended memory",        kWin386 + 12,     2,    0xFFFF,  nullptr},
    {"386: minimum extended memory",        kWin386 + 14,     2,    0,       nullptr},
    {"386: flags",                          kWin386 + 16,     4,    0x21002, nullptr},
    {"386: display flags",                  kWin386 + 20,     4,    0x1F,    nullptr},
    {"386: shortcut key and reserved",      kWin386 + 24,     16,   0,       nullptr},
    {"386: parameters",                     kWin386 + 40,     64,   0,       ""},
    // "WINDOWS VMM 4.0" heading and data; the data is zero but for these.
    {"heading 3 name",                      kHeading3,        16,   0,       "WINDOWS VMM 4.0"},
    {"heading 3 next heading (last)",       kHeading3 + 16,   2,    kLastHeading, nullptr},
    {"heading 3 data offset",               kHeading3 + 18,   2,    kVmm,    nullptr},
    {"heading 3 data length",               kHeading3 + 20,   2,    kVmmSize, nullptr},
    {"VMM: icon file",                      kVmm + 88,        11,   0,       "PIFMGR.DLL"},
    {"VMM: word 170",                       kVmm + 170,       2,    2,       nullptr},
    {"VMM: word 182",                       kVmm + 182,       2,    50,      nullptr},
    {"VMM: word 184",                       kVmm + 184,       2,    1,       nullptr},
    {"VMM: word 196",                       kVmm + 196,       2,    1,       nullptr},
    {"VMM: word 200",                       kVmm + 200,       2,    5,       nullptr},
    {"VMM: word 202",                       kVmm + 202,       2,    25,      nullptr},
    {"VMM: word 204",                       kVmm + 204,       2,    3,       nullptr},
    {"VMM: word 206",                       kVmm + 206,       2,    200,     nullptr},
    {"VMM: word 208",                       kVmm + 208,       2,    1000,    nullptr},
    {"VMM: word 210",                       kVmm + 210,       2,    2,       nullptr},
    {"VMM: word 212",                       kVmm + 212,       2,    10,      nullptr},
    {"VMM: word 214",                       kVmm + 214,       2,    1,       nullptr},
    {"VMM: word 222",                       kVmm + 222,       2,    28,      nullptr},
    {"VMM: raster font name",               kVmm + 234,       9,    0,       "Terminal"},
    {"VMM: TrueType font name",             kVmm + 266,       12,   0,       "Courier New"},
    {"VMM: word 300",                       kVmm + 300,       2,    3,       nullptr},
    {"VMM: word 316",                       kVmm + 316,       2,    22,      nullptr},
    {"VMM: word 426",                       kVmm + 426,       2,    1,       nullptr},
};

constexpr std::size_t Length(const char* s) {
  std::size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

// The table is in file order, its fields do not overlap and lie inside the
// file, numbers fit their fields, and texts fit with their terminator (the
// title fills its field exactly and has none).
constexpr bool WellFormed() {
  std::size_t end = 0;
  for (const PifField& f : kFields) {
    if (f.offset < end || f.offset + f.size > kPifSize) return false;
    if (f.text != nullptr) {
      const std::size_t n = Length(f.text);
      if (n > f.size || (n == f.size && f.offset != 2)) return false;
    } else if (f.size < 4 && f.number >> (8 * f.size) != 0) {
      return false;
    }
    end = f.offset + f.size;
  }
  return true;
}
static_assert(WellFormed(), "the PIF template's field table is out of order, overlaps or overflows");

}  // namespace

std::vector<std::uint8_t> BuildPifTemplate() {
  std::vector<std::uint8_t> pif(kPifSize, 0);
  for (const PifField& f : kFields) {
    if (f.text != nullptr) {
      for (std::size_t i = 0; f.text[i] != '\0'; ++i) pif[f.offset + i] = static_cast<std::uint8_t>(f.text[i]);
    } else {
      for (std::size_t i = 0; i < f.size; ++i)
        pif[f.offset + i] = i < 4 ? static_cast<std::uint8_t>(f.number >> (8 * i)) : 0;
    }
  }
  return pif;
}

}  // namespace piftemplate
