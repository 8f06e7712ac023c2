#include "formats/res_file.h"

#include <fstream>
#include <iterator>

namespace formats {
namespace {

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool Word(std::uint16_t* out) {
    if (pos_ + 2 > bytes_.size()) return false;
    *out = static_cast<std::uint16_t>(Byte(pos_) | (Byte(pos_ + 1) << 8));
    pos_ += 2;
    return true;
  }
  bool Dword(std::uint32_t* out) {
    std::uint16_t lo, hi;
    if (!Word(&lo) || !Word(&hi)) return false;
    *out = lo | (static_cast<std::uint32_t>(hi) << 16);
    return true;
  }
  // A name or ordinal: 0xFFFF then the ordinal, or a zero-terminated UTF-16
  // string (named: *ordinal is 0 and *named true).
  bool NameOrOrdinal(std::uint16_t* ordinal, bool* named) {
    std::uint16_t ch;
    if (!Word(&ch)) return false;
    *ordinal = 0;
    *named = ch != 0xFFFF;
    if (!*named) return Word(ordinal);
    while (ch != 0)
      if (!Word(&ch)) return false;
    return true;
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~static_cast<std::size_t>(3); }
  std::size_t Pos() const { return pos_; }
  void Seek(std::size_t pos) { pos_ = pos; }
  std::size_t Size() const { return bytes_.size(); }

 private:
  unsigned Byte(std::size_t at) const { return static_cast<unsigned char>(bytes_[at]); }
  const std::string& bytes_;
  std::size_t pos_ = 0;
};

}  // namespace

bool ParseResFile(const std::string& file, std::vector<ResEntry>& out) {
  Reader reader(file);
  std::vector<ResEntry> entries;
  while (reader.Pos() < reader.Size()) {
    const std::size_t start = reader.Pos();
    std::uint32_t dataSize, headerSize, dataVersion;
    std::uint16_t flags;
    ResEntry entry;
    bool namedType, named;
    if (!reader.Dword(&dataSize) || !reader.Dword(&headerSize)) return false;
    if (!reader.NameOrOrdinal(&entry.type, &namedType) || !reader.NameOrOrdinal(&entry.id, &named)) return false;
    reader.AlignDword();
    if (!reader.Dword(&dataVersion) || !reader.Word(&flags) || !reader.Word(&entry.language)) return false;
    if (headerSize < 32 || start + headerSize > file.size() || dataSize > file.size() - start - headerSize)
      return false;
    const std::size_t data = start + headerSize;
    if (!namedType && !named && entry.type != 0) {
      entry.bytes = file.substr(data, dataSize);
      entries.push_back(entry);
    }
    reader.Seek(data + dataSize);
    reader.AlignDword();
  }
  out = std::move(entries);
  return true;
}

bool ReadResFile(const std::string& path, std::vector<ResEntry>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseResFile(bytes, out);
}

}  // namespace formats
