// The installer's PIF template (raw-data resource 116): a complete program
// information file for running the patcher as a DOS program, 967 bytes. The
// installer writes it out as it is and then fills in the program file name,
// the start-up directory and the parameters (src/patcher/pif.cpp).
#ifndef PIFTEMPLATE_PIF_TEMPLATE_H
#define PIFTEMPLATE_PIF_TEMPLATE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/contract.h"

namespace piftemplate {

// The layout and the size (967 bytes) are the installer's: common/contract.h.
constexpr std::size_t kPifSize = PIF_TEMPLATE_SIZE;

// One row of the template's table (pif_template.cpp): a number,
// little-endian in `size` bytes, or a text, zero-padded to `size` bytes. The
// table lists every field that is not zero, and the zero fields of the
// basic section and the "WINDOWS 386 3.0" data; all other bytes are zero.
struct PifField {
  const char* name;
  std::size_t offset;
  std::size_t size;
  std::uint32_t number;  // when text is null
  const char* text;
};

// The 967 bytes; every byte not covered by a field is zero.
std::vector<std::uint8_t> BuildPifTemplate();

}  // namespace piftemplate

#endif
