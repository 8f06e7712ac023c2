#include "regfile.h"

#include <cctype>
#include <sstream>

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

namespace {

// Reads a quoted REGEDIT4 string starting at s[i] == '"'; escapes are \\ and \".
bool ReadQuoted(const std::string& s, std::size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  for (++i; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (s[i] == '"') {
      ++i;
      return true;
    } else {
      out += s[i];
    }
  }
  return false;
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

bool ParseRegedit4(const std::string& text, Registry& registry, std::string* error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  RegKey* key = nullptr;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  bool sawHeader = false;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Continuation lines of hex data.
    while (!line.empty() && line.back() == '\\' && line.find('"') == std::string::npos) {
      std::string more;
      if (!std::getline(in, more)) break;
      ++number;
      if (!more.empty() && more.back() == '\r') more.pop_back();
      line.pop_back();
      line += more.substr(more.find_first_not_of(" \t") == std::string::npos ? more.size()
                                                                              : more.find_first_not_of(" \t"));
    }
    if (line.empty() || line[0] == ';') continue;
    if (!sawHeader) {
      if (line != "REGEDIT4") return fail("expected the header REGEDIT4");
      sawHeader = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3) return fail("key line without closing ]");
      if (line[1] == '-') return fail("key deletions are not supported");
      key = &registry.Create(line.substr(1, line.size() - 2));
      continue;
    }
    if (!key) return fail("value before any key");
    std::size_t i = 0;
    RegValue value;
    if (line[0] == '@') {
      i = 1;
    } else if (!ReadQuoted(line, i, value.name)) {
      return fail("value name is not a quoted string");
    }
    if (i >= line.size() || line[i] != '=') return fail("expected = after the value name");
    ++i;
    if (i < line.size() && line[i] == '"') {
      if (!ReadQuoted(line, i, value.data)) return fail("unterminated string");
      if (i != line.size()) return fail("text after the closing quote");
    } else {
      value.isString = false;
      value.data = line.substr(i);
    }
    if (RegValue* old = key->Find(value.name)) *old = value;
    else key->values.push_back(value);
  }
  if (!sawHeader) return fail("empty file, expected REGEDIT4");
  return true;
}

std::string WriteRegedit4(const Registry& registry) {
  std::string out = "REGEDIT4\r\n";
  for (const auto& [lower, key] : registry.Keys()) {
    if (key.path.find('\\') == std::string::npos) continue;  // a hive itself
    out += "\r\n[" + key.path + "]\r\n";
    for (const RegValue& v : key.values) {
      out += v.name.empty() ? "@" : Quote(v.name);
      out += "=" + (v.isString ? Quote(v.data) : v.data) + "\r\n";
    }
  }
  return out;
}

}  // namespace patchbuild
