// A machine image's registry held in memory, read from and written to
// REGEDIT4 text by formats/regedit4.h, the reader winsim loads the same
// machine.reg with. Key and value names compare without regard to case and
// keep the case they were written in.
#ifndef PATCHBUILD_REGFILE_H
#define PATCHBUILD_REGFILE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "formats/regedit4.h"

namespace patchbuild {

struct RegValue {
  std::string name;      // empty: the key's default value ("@")
  bool isString = true;  // a REG_SZ, `data` its text; otherwise `data` holds the bytes of a `type`
  std::string data;
  std::uint32_t type = formats::kRegSz;
};

struct RegKey {
  std::string path;  // "HKEY_LOCAL_MACHINE\Software\Quenmark\SharedUsage"
  std::vector<RegValue> values;

  const RegValue* Find(const std::string& name) const;
  RegValue* Find(const std::string& name);
  void SetString(const std::string& name, const std::string& data);
  bool Remove(const std::string& name);
};

class Registry {
 public:
  RegKey* Find(const std::string& path);
  const RegKey* Find(const std::string& path) const;
  // Creates the key and every missing parent; returns the key.
  RegKey& Create(const std::string& path, bool* created = nullptr);
  // Deletes one key that has no subkeys; false if missing or it has any.
  bool DeleteLeaf(const std::string& path);
  // Deletes a key with its whole tree, if it exists.
  void DeleteTree(const std::string& path);
  const std::map<std::string, RegKey>& Keys() const { return keys_; }

 private:
  std::map<std::string, RegKey> keys_;  // by lower-case path
};

// Reads REGEDIT4 text into the registry. On a line it cannot read, returns
// false with the line number and the reason in `error` ("line 7: ...").
bool ParseRegedit4(const std::string& text, Registry& registry, std::string* error);
// Writes every key but the hives in path order, CRLF line ends, as REGEDIT4.
std::string WriteRegedit4(const Registry& registry);

std::string Lower(std::string s);
bool SameName(const std::string& a, const std::string& b);

}  // namespace patchbuild

#endif
