#include "pif_template.h"

namespace piftemplate {

namespace {

constexpr std::uint32_t kLastHeading = 0xFFFF;

//  field                                   offset            size  number   text
constexpr PifField kFields[] = {
    // Basic section.
    {"reserved",                            0,                1,    0,       nullptr},
    {"checksum (never recomputed)",         1,                1,    0x78,    nullptr},
    {"title",                               2,                30,   0,       "PATCH                         "},
    {"maximum memory, KB",                  32,               2,    640,     nullptr},
    {"minimum memory, KB",                  34,               2,    0,       nullptr},
    {"program file name",                   PIF_PROGRAM,      PIF_PROGRAM_SIZE, 0, "PATCH.EXE"},
    {"flags: close window on exit",         PIF_CLOSE_FLAGS,  1,    0x10,    nullptr},
    {"reserved",                            100,              1,    0,       nullptr},
    {"start-up directory",                  PIF_DIRECTORY,    PIF_DIRECTORY_SIZE, 0, ""},
    {"parameters",                          PIF_PARAMETERS,   PIF_PARAMETERS_SIZE, 0, ""},
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
    {"heading 1 name",                      PIF_HEADING1,     PIF_HEADING_NAME_SIZE,   0,       "MICROSOFT PIFEX"},
    {"heading 1 next heading",              PIF_HEADING1 + PIF_HEADING_NEXT, 2,    PIF_HEADING2, nullptr},
    {"heading 1 data offset",               PIF_HEADING1 + PIF_HEADING_DATA_OFFSET, 2,    0,       nullptr},
    {"heading 1 data length",               PIF_HEADING1 + PIF_HEADING_DATA_LENGTH, 2,    PIF_BASIC_SIZE, nullptr},
    // "WINDOWS 386 3.0" heading and data.
    {"heading 2 name",                      PIF_HEADING2,     PIF_HEADING_NAME_SIZE,   0,       "WINDOWS 386 3.0"},
    {"heading 2 next heading",              PIF_HEADING2 + PIF_HEADING_NEXT, 2,    PIF_HEADING3, nullptr},
    {"heading 2 data offset",               PIF_HEADING2 + PIF_HEADING_DATA_OFFSET, 2,    PIF_WIN386, nullptr},
    {"heading 2 data length",               PIF_HEADING2 + PIF_HEADING_DATA_LENGTH, 2,    PIF_WIN386_SIZE, nullptr},
    {"386: maximum conventional memory, KB", PIF_WIN386 + 0,     2,    640,     nullptr},
    {"386: minimum conventional memory, KB", PIF_WIN386 + 2,     2,    0,       nullptr},
    {"386: foreground priority",            PIF_WIN386 + 4,      2,    100,     nullptr},
    {"386: background priority",            PIF_WIN386 + 6,      2,    50,      nullptr},
    {"386: maximum expanded memory",        PIF_WIN386 + 8,      2,    0xFFFF,  nullptr},
    {"386: minimum expanded memory",        PIF_WIN386 + 10,     2,    0,       nullptr},
    {"386: maximum extended memory",        PIF_WIN386 + 12,     2,    0xFFFF,  nullptr},
    {"386: minimum extended memory",        PIF_WIN386 + 14,     2,    0,       nullptr},
    {"386: flags",                          PIF_WIN386 + 16,     4,    0x21002, nullptr},
    {"386: display flags",                  PIF_WIN386 + 20,     4,    0x1F,    nullptr},
    {"386: shortcut key and reserved",      PIF_WIN386 + 24,     16,   0,       nullptr},
    {"386: parameters",                     PIF_WIN386_PARAMETERS, PIF_WIN386_PARAMETERS_SIZE, 0, ""},
    // "WINDOWS VMM 4.0" heading and data; the data is zero but for these.
    {"heading 3 name",                      PIF_HEADING3,     PIF_HEADING_NAME_SIZE,   0,       "WINDOWS VMM 4.0"},
    {"heading 3 next heading (last)",       PIF_HEADING3 + PIF_HEADING_NEXT, 2,    kLastHeading, nullptr},
    {"heading 3 data offset",               PIF_HEADING3 + PIF_HEADING_DATA_OFFSET, 2,    PIF_VMM,    nullptr},
    {"heading 3 data length",               PIF_HEADING3 + PIF_HEADING_DATA_LENGTH, 2,    PIF_VMM_SIZE, nullptr},
    {"VMM: icon file",                      PIF_VMM + 88,        11,   0,       "PIFMGR.DLL"},
    {"VMM: word 170",                       PIF_VMM + 170,       2,    2,       nullptr},
    {"VMM: word 182",                       PIF_VMM + 182,       2,    50,      nullptr},
    {"VMM: word 184",                       PIF_VMM + 184,       2,    1,       nullptr},
    {"VMM: word 196",                       PIF_VMM + 196,       2,    1,       nullptr},
    {"VMM: word 200",                       PIF_VMM + 200,       2,    5,       nullptr},
    {"VMM: word 202",                       PIF_VMM + 202,       2,    25,      nullptr},
    {"VMM: word 204",                       PIF_VMM + 204,       2,    3,       nullptr},
    {"VMM: word 206",                       PIF_VMM + 206,       2,    200,     nullptr},
    {"VMM: word 208",                       PIF_VMM + 208,       2,    1000,    nullptr},
    {"VMM: word 210",                       PIF_VMM + 210,       2,    2,       nullptr},
    {"VMM: word 212",                       PIF_VMM + 212,       2,    10,      nullptr},
    {"VMM: word 214",                       PIF_VMM + 214,       2,    1,       nullptr},
    {"VMM: word 222",                       PIF_VMM + 222,       2,    28,      nullptr},
    {"VMM: raster font name",               PIF_VMM + 234,       9,    0,       "Terminal"},
    {"VMM: TrueType font name",             PIF_VMM + 266,       12,   0,       "Courier New"},
    {"VMM: word 300",                       PIF_VMM + 300,       2,    3,       nullptr},
    {"VMM: word 316",                       PIF_VMM + 316,       2,    22,      nullptr},
    {"VMM: word 426",                       PIF_VMM + 426,       2,    1,       nullptr},
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
