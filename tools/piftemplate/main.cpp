// piftemplate: writes the installer's PIF template (raw-data resource 116).
//
//   piftemplate OUT.pif
//
// Exit status 0 on success, 1 when the file cannot be written, 2 for a
// usage error.
#include <fstream>
#include <iostream>

#include "pif_template.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: piftemplate OUT.pif\n";
    return 2;
  }
  const std::vector<std::uint8_t> pif = piftemplate::BuildPifTemplate();
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(pif.data()), static_cast<std::streamsize>(pif.size()));
  out.close();
  if (!out) {
    std::cerr << "piftemplate: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
