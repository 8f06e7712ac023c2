// Expands SZDD data with libmspack, an SZDD reader independent of ours, by
// way of temporary files (libmspack reads and writes through its file
// system interface).
#ifndef TESTS_TOOLS_LIBMSPACK_EXPAND_H
#define TESTS_TOOLS_LIBMSPACK_EXPAND_H

#include <mspack.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

struct LibmspackResult {
  char missingChar = 0;        // the header's last-character field
  std::int64_t length = -1;    // the header's expanded size
  std::vector<std::uint8_t> expanded;
};

inline std::optional<LibmspackResult> ExpandWithLibmspack(const std::vector<std::uint8_t>& packed) {
  namespace fs = std::filesystem;
  static int serial = 0;
  const fs::path base = fs::temp_directory_path() /
                        ("wf-szdd-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
  const std::string in = base.string() + ".in", out = base.string() + ".out";
  {
    std::ofstream f(in, std::ios::binary);
    f.write(reinterpret_cast<const char*>(packed.data()), static_cast<std::streamsize>(packed.size()));
  }
  std::optional<LibmspackResult> result;
  msszdd_decompressor* d = mspack_create_szdd_decompressor(nullptr);
  if (d != nullptr) {
    if (msszddd_header* h = d->open(d, in.c_str())) {
      LibmspackResult r;
      r.missingChar = h->missing_char;
      r.length = static_cast<std::int64_t>(h->length);
      if (h->format == MSSZDD_FMT_NORMAL && d->extract(d, h, out.c_str()) == MSPACK_ERR_OK) {
        std::ifstream f(out, std::ios::binary);
        r.expanded.assign(std::istreambuf_iterator<char>(f), {});
        result = r;
      }
      d->close(d, h);
    }
    mspack_destroy_szdd_decompressor(d);
  }
  std::error_code ec;
  fs::remove(in, ec);
  fs::remove(out, ec);
  return result;
}

#endif
