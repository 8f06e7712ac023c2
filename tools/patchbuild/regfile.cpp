#include "regfile.h"

#include <cctype>

namespace patchbuild {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

const RegValue* RegKey::Find(const std::string& name) const {
  for (const RegValue& v : values)
    if (SameName(v.name, name)) return &v;
  return nullptr;
}

RegValue* RegKey::Find(const std::string& name) {
  return const_cast<RegValue*>(static_cast<const RegKey*>(this)->Find(name));
}

void RegKey::SetString(const std::string& name, const std::string& data) {
  if (RegValue* v = Find(name)) {
    v->isString = true;
    v->data = data;
    v->type = formats::kRegSz;
  } else {
    values.push_back({name, true, data});
  }
}

bool RegKey::Remove(const std::string& name) {
  for (auto it = values.begin(); it != values.end(); ++it)
    if (SameName(it->name, name)) {
      values.erase(it);
      return true;
    }
  return false;
}

RegKey* Registry::Find(const std::string& path) {
  auto it = keys_.find(Lower(path));
  return it == keys_.end() ? nullptr : &it->second;
}

const RegKey* Registry::Find(const std::string& path) const {
  auto it = keys_.find(Lower(path));
  return it == keys_.end() ? nullptr : &it->second;
}

RegKey& Registry::Create(const std::string& path, bool* created) {
  if (created) *created = false;
  for (std::size_t slash = path.find('\\'); slash != std::string::npos;
       slash = path.find('\\', slash + 1)) {
    const std::string parent = path.substr(0, slash);
    if (!Find(parent)) keys_[Lower(parent)].path = parent;
  }
  if (RegKey* key = Find(path)) return *key;
  if (created) *created = true;
  RegKey& key = keys_[Lower(path)];
  key.path = path;
  return key;
}

bool Registry::DeleteLeaf(const std::string& path) {
  const std::string lower = Lower(path);
  auto it = keys_.find(lower);
  if (it == keys_.end()) return false;
  auto next = std::next(it);
  if (next != keys_.end() && next->first.compare(0, lower.size() + 1, lower + "\\") == 0) return false;
  keys_.erase(it);
  return true;
}

void Registry::DeleteTree(const std::string& path) {
  const std::string lower = Lower(path);
  for (auto it = keys_.lower_bound(lower); it != keys_.end();) {
    if (it->first != lower && it->first.compare(0, lower.size() + 1, lower + "\\") != 0) break;
    it = keys_.erase(it);
  }
}

bool ParseRegedit4(const std::string& text, Registry& registry, std::string* error) {
  std::vector<formats::RegTextKey> keys;
  std::string parseError;
  const bool parsed = formats::ParseRegText(text, &keys, &parseError);
  for (const formats::RegTextKey& entry : keys) {
    if (entry.path.empty()) {
      if (error) *error = "line " + std::to_string(entry.line) + ": empty key name";
      return false;
    }
    if (entry.remove) {
      registry.DeleteTree(entry.path);
      continue;
    }
    RegKey& key = registry.Create(entry.path);
    for (const formats::RegTextValue& v : entry.values) {
      if (v.remove) {
        key.Remove(v.name);
        continue;
      }
      // A string read from "text" has its terminator last and no other.
      const bool text = v.type == formats::kRegSz && !v.data.empty() &&
                        v.data.find('\0') == v.data.size() - 1;
      RegValue value{v.name, text, text ? v.data.substr(0, v.data.size() - 1) : v.data, v.type};
      if (RegValue* old = key.Find(v.name)) *old = value;
      else key.values.push_back(value);
    }
  }
  if (!parsed && error) *error = parseError;
  return parsed;
}

std::string WriteRegedit4(const Registry& registry) {
  std::vector<formats::RegTextKey> keys;
  for (const auto& [lower, key] : registry.Keys()) {
    if (key.path.find('\\') == std::string::npos) continue;  // a hive itself
    formats::RegTextKey out;
    out.path = key.path;
    for (const RegValue& v : key.values)
      out.values.push_back({v.name, v.isString ? formats::kRegSz : v.type, v.isString ? v.data + '\0' : v.data});
    keys.push_back(out);
  }
  return formats::WriteRegText(keys, "\r\n");
}

}  // namespace patchbuild
