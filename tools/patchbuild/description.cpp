#include "description.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "regfile.h"
#include "texts.h"

namespace patchbuild {

const int kBlockBases[7] = {BLOCK_PAYLOAD,        BLOCK_STAGED_FILES,  BLOCK_SHARED_ADDED,
                            BLOCK_SHARED_REMOVED, BLOCK_INSTALL_MOVES, BLOCK_SHARED_MOVES,
                            BLOCK_CLEANUP};

std::string Diagnostic::Text() const {
  return line > 0 ? file + ":" + std::to_string(line) + ": " + message : file + ": " + message;
}

const Block* Description::FindBlock(int base) const {
  auto it = blocks.find(base);
  return it == blocks.end() ? nullptr : &it->second;
}

std::vector<Entry> Description::EntriesOf(int base) const {
  const Block* b = FindBlock(base);
  return b ? b->entries : std::vector<Entry>{};
}

std::string BareNameFault(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > NAME_CAPACITY - 1)
    return "the name is " + std::to_string(name.size()) + " characters long; the installer reads names into " +
           std::to_string(NAME_CAPACITY) + "-character buffers (at most " + std::to_string(NAME_CAPACITY - 1) + ")";
  for (unsigned char c : name) {
    if (c < 0x20) return "the name holds a control character";
    if (std::string("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
      return std::string("the name holds '") + static_cast<char>(c) + "', which a bare file name cannot";
  }
  if (name == "." || name == "..") return "the name is a directory reference";
  if (name.back() == ' ' || name.back() == '.') return "the name ends in a blank or a dot, which Windows drops";
  return {};
}

namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

// Splits one line into tokens; a '#' outside quotes starts a comment.
bool Tokenize(const std::string& line, std::vector<Token>& tokens, std::string& error) {
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      Token t{"", true};
      bool closed = false;
      for (++i; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
          t.text += line[++i];
        } else if (line[i] == '"') {
          closed = true;
          ++i;
          break;
        } else {
          t.text += line[i];
        }
      }
      if (!closed) {
        error = "unterminated quoted text";
        return false;
      }
      tokens.push_back(t);
    } else {
      Token t;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '"')
        t.text += line[i++];
      tokens.push_back(t);
    }
  }
  return true;
}

class Parser {
 public:
  Parser(const std::string& file, Description& d, std::vector<Diagnostic>& diags)
      : file_(file), d_(d), diags_(diags) {}

  void Fault(int line, const std::string& message) { diags_.push_back({file_, line, message}); }

  void Line(int number, const std::string& text) {
    std::vector<Token> tokens;
    std::string error;
    if (!Tokenize(text, tokens, error)) return Fault(number, error);
    if (tokens.empty()) return;
    const std::string& word = tokens[0].quoted ? std::string() : tokens[0].text;
    if (word == "block") return BlockLine(number, tokens);
    if (word == "message") return MessageLine(number, tokens);
    if (Setting* s = SettingFor(word)) {
      if (block_) return Fault(number, "\"" + word + "\" must come before the first block");
      if (s->Given())
        return Fault(number, "duplicate \"" + word + "\" (first given on line " + std::to_string(s->line) + ")");
      if (tokens.size() != 2)
        return Fault(number, "\"" + word + "\" takes one value (quote it if it holds blanks)");
      s->value = tokens[1].text;
      s->line = number;
      return;
    }
    if (!block_) return Fault(number, "unknown setting \"" + tokens[0].text + "\"");
    if (word == "extra") return ExtraLine(number, tokens);
    EntryLine(number, tokens);
  }

  void Finish() {
    struct Required {
      const Setting& s;
      const char* word;
    } required[] = {{d_.productName, "product-name"},
                    {d_.registryName, "registry-name"},
                    {d_.versionCheck, "version-check"},
                    {d_.expectedVersion, "expected-version"},
                    {d_.newVersion, "new-version"}};
    for (const auto& r : required)
      if (!r.s.Given()) Fault(0, std::string("missing setting \"") + r.word + "\"");
    for (int base : {BLOCK_PAYLOAD, BLOCK_STAGED_FILES})
      if (!d_.FindBlock(base)) Fault(0, "missing block " + std::to_string(base));
    for (const auto& [base, block] : d_.blocks) CheckBlock(block);
    CheckSettings();
    CheckReferences();
    CheckTexts(d_, diags_);
  }

 private:
  Setting* SettingFor(const std::string& word) {
    if (word == "product-name") return &d_.productName;
    if (word == "registry-name") return &d_.registryName;
    if (word == "version-check") return &d_.versionCheck;
    if (word == "expected-version") return &d_.expectedVersion;
    if (word == "expected-checksum") return &d_.expectedChecksum;
    if (word == "patcher") return &d_.patcher;
    if (word == "patcher-data") return &d_.patcherData;
    if (word == "new-version") return &d_.newVersion;
    return nullptr;
  }

  void MessageLine(int number, const std::vector<Token>& tokens) {
    if (block_) return Fault(number, "\"message\" must come before the first block");
    if (tokens.size() != 3) return Fault(number, "\"message\" takes a message id and one quoted text");
    const std::string& id = tokens[1].text;
    const bool digits = !id.empty() && id.size() <= 4 &&
                        id.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || !DefaultMessageText(std::stoi(id)))
      return Fault(number, "\"" + id + "\" is not a message id; messages are " + std::to_string(MSG_WRONG_VERSION) +
                               " to " + std::to_string(MSG_RESTART_PENDING));
    Setting& m = d_.messages[std::stoi(id)];
    if (m.Given())
      return Fault(number, "duplicate message " + id + " (first given on line " + std::to_string(m.line) + ")");
    m.value = tokens[2].text;
    m.line = number;
  }

  void BlockLine(int number, const std::vector<Token>& tokens) {
    block_ = nullptr;
    if (tokens.size() < 2) return Fault(number, "\"block\" needs a block number and its count");
    int base = 0;
    bool known = false;
    for (int b : kBlockBases)
      if (tokens[1].text == std::to_string(b)) base = b, known = true;
    if (!known) {
      if (tokens[1].text == std::to_string(BLOCK_EXPANDED_NAMES))
        return Fault(number, "block 1100 is written from block 1000's entries; list expanded names there");
      return Fault(number, "unknown block \"" + tokens[1].text + "\"");
    }
    if (const Block* old = d_.FindBlock(base))
      return Fault(number, "duplicate block " + std::to_string(base) + " (first given on line " +
                               std::to_string(old->line) + ")");
    Block& b = d_.blocks[base];
    b.base = base;
    b.line = number;
    for (std::size_t i = 2; i < tokens.size(); ++i) b.countText += (i > 2 ? " " : "") + tokens[i].text;
    block_ = &b;
  }

  void ExtraLine(int number, const std::vector<Token>& tokens) {
    const std::size_t wanted = block_->base == BLOCK_PAYLOAD ? 3 : 2;
    if (tokens.size() != wanted)
      return Fault(number, block_->base == BLOCK_PAYLOAD
                               ? "\"extra\" in block 1000 takes two texts: the stored-name and the expanded-name string"
                               : "\"extra\" takes one text");
    Extra e{tokens[1].text, wanted == 3 ? tokens[2].text : std::string(), number};
    for (const std::string& t : {e.text, e.expandedText})
      if (t.size() > NAME_CAPACITY - 1) return Fault(number, "extra text longer than " + std::to_string(NAME_CAPACITY - 1) + " characters");
    block_->extras.push_back(e);
  }

  void EntryLine(int number, const std::vector<Token>& tokens) {
    if (!block_->extras.empty())
      return Fault(number, "entry after an \"extra\" line: extras stand after the counted entries");
    Entry e;
    e.line = number;
    if (block_->base == BLOCK_PAYLOAD) {
      const bool plain = tokens.size() == 3 && !tokens[2].quoted && tokens[2].text == "plain";
      if (tokens.size() != 2 && !plain)
        return Fault(number, "a payload entry is: stored-name expanded-name [plain]");
      e.stored = tokens[0].text;
      e.name = tokens[1].text;
      e.plain = plain;
    } else {
      if (tokens.size() != 1) return Fault(number, "one file name per line (quote a name that holds blanks)");
      e.name = tokens[0].text;
    }
    block_->entries.push_back(e);
  }

  void CheckName(int line, const std::string& name, const std::string& what) {
    const std::string fault = BareNameFault(name);
    if (!fault.empty()) Fault(line, what + " \"" + Shorten(name) + "\": " + fault);
  }

  static std::string Shorten(const std::string& s) {
    return s.size() > 40 ? s.substr(0, 32) + "...(" + std::to_string(s.size()) + " chars)" : s;
  }

  void CheckBlock(const Block& b) {
    const std::string name = "block " + std::to_string(b.base);
    std::size_t digits = 0;
    while (digits < b.countText.size() && std::isdigit(static_cast<unsigned char>(b.countText[digits]))) ++digits;
    if (digits == 0) {
      Fault(b.line, name + " has no count: its first string must begin with the number of entries");
    } else if (digits > 9 || std::stoul(b.countText.substr(0, digits)) != b.entries.size()) {
      Fault(b.line, name + " says " + b.countText.substr(0, digits) + " entries but lists " +
                        std::to_string(b.entries.size()));
    }
    const std::size_t most = b.base == BLOCK_PAYLOAD ? PAYLOAD_MAX_ENTRIES : BLOCK_MAX_ENTRIES;
    if (b.entries.size() > most)
      Fault(b.line, name + " lists " + std::to_string(b.entries.size()) + " entries; it may hold at most " +
                        std::to_string(most) +
                        (b.base == BLOCK_PAYLOAD ? " (payload files are resources below the PIF template's)"
                                                 : " (the next block's strings follow)"));
    if (b.countText.size() > SHORT_STRING_CAPACITY - 1)
      Fault(b.line, name + ": the count string is " + std::to_string(b.countText.size()) +
                        " characters; the installer reads it into a " + std::to_string(SHORT_STRING_CAPACITY) +
                        "-character buffer");
    // Names within a block must differ; payload names must differ across
    // both columns, since the stored file is deleted after its expansion.
    std::map<std::string, int> seen;
    auto unique = [&](const std::string& n, int line, const std::string& what) {
      auto [it, fresh] = seen.emplace(Lower(n), line);
      if (!fresh)
        Fault(line, "duplicate " + what + " \"" + Shorten(n) + "\" in " + name + " (also on line " +
                        std::to_string(it->second) + ")");
    };
    for (const Entry& e : b.entries) {
      if (b.base == BLOCK_PAYLOAD) {
        CheckName(e.line, e.stored, "stored name");
        CheckName(e.line, e.name, "expanded name");
        if (BareNameFault(e.stored).empty() && BareNameFault(e.name).empty() && !SameName(e.stored, e.name)) {
          const std::string expected = e.name.substr(0, e.name.size() - 1) + "_";
          if (!SameName(e.stored, expected))
            Fault(e.line, "stored name \"" + e.stored + "\" should be \"" + expected +
                              "\" (the expanded name with '_' for its last character)");
        }
        if (SameName(e.stored, e.name))
          Fault(e.line, "stored name and expanded name are both \"" + e.name + "\"");
        unique(e.stored, e.line, "name");
        if (!SameName(e.stored, e.name)) unique(e.name, e.line, "name");
      } else {
        CheckName(e.line, e.name, "file name");
        unique(e.name, e.line, "file");
      }
    }
  }

  void CheckSettings() {
    struct Limit {
      const Setting& s;
      const char* word;
      std::size_t buffer;
    } limits[] = {{d_.versionCheck, "version-check", SHORT_STRING_CAPACITY},
                  {d_.expectedVersion, "expected-version", SHORT_STRING_CAPACITY},
                  {d_.registryName, "registry-name", VALUE_NAME_CAPACITY},
                  {d_.patcher, "patcher", NAME_CAPACITY},
                  {d_.patcherData, "patcher-data", NAME_CAPACITY}};
    for (const auto& l : limits)
      if (l.s.Given() && (l.s.value.empty() || l.s.value.size() > l.buffer - 1))
        Fault(l.s.line, std::string(l.word) + " is " + std::to_string(l.s.value.size()) +
                            " characters; it must be 1 to " + std::to_string(l.buffer - 1));
    if (d_.versionCheck.Given()) CheckName(d_.versionCheck.line, d_.versionCheck.value, "version-check file");
    if (d_.expectedChecksum.Given()) {
      const std::string& v = d_.expectedChecksum.value;
      bool digits = !v.empty() && v.size() <= 10;
      for (char c : v) digits = digits && std::isdigit(static_cast<unsigned char>(c));
      if (!digits || std::stoull(v) > 0xFFFFFFFFull)
        Fault(d_.expectedChecksum.line, "expected-checksum \"" + v + "\" is not a 32-bit unsigned decimal number");
    }
  }

  void CheckReferences() {
    std::set<std::string> payload, staged;
    for (const Entry& e : d_.EntriesOf(BLOCK_PAYLOAD)) payload.insert(Lower(e.name));
    for (const Entry& e : d_.EntriesOf(BLOCK_STAGED_FILES)) staged.insert(Lower(e.name));
    auto need = [&](int base, bool orStaged, const char* what) {
      for (const Entry& e : d_.EntriesOf(base)) {
        const std::string n = Lower(e.name);
        if (!payload.count(n) && !(orStaged && staged.count(n)))
          Fault(e.line, "unknown file \"" + e.name + "\" in block " + std::to_string(base) + ": " + what);
      }
    };
    need(BLOCK_SHARED_ADDED, false, "not a payload entry of block 1000");
    need(BLOCK_SHARED_MOVES, false, "not a payload entry of block 1000");
    need(BLOCK_CLEANUP, false, "not a payload entry of block 1000");
    need(BLOCK_INSTALL_MOVES, true, "neither a payload entry nor a patched file of block 2000");
    for (const Setting* s : {&d_.patcher, &d_.patcherData})
      if (s->Given() && !payload.count(Lower(s->value)))
        Fault(s->line, "unknown file \"" + s->value + "\": the patcher and its data must be payload entries");

    std::set<std::string> moved;
    for (const Entry& e : d_.EntriesOf(BLOCK_INSTALL_MOVES)) moved.insert(Lower(e.name));
    for (const Entry& e : d_.EntriesOf(BLOCK_STAGED_FILES))
      if (!moved.count(Lower(e.name)))
        Fault(e.line, "patched file \"" + e.name + "\" is never moved into the install directory (not in block 4000)");
    if (d_.versionCheck.Given()) {
      const auto staged2000 = d_.EntriesOf(BLOCK_STAGED_FILES);
      if (staged2000.empty() || !SameName(staged2000.front().name, d_.versionCheck.value))
        Fault(d_.versionCheck.line, "the version-check file \"" + d_.versionCheck.value +
                                        "\" must be the first entry of block 2000");
    }
  }

  std::string file_;
  Description& d_;
  std::vector<Diagnostic>& diags_;
  Block* block_ = nullptr;
};

}  // namespace

void ParseDescription(const std::string& text, const std::string& fileName, Description& out,
                      std::vector<Diagnostic>& diagnostics) {
  out = Description{};
  out.file = fileName;
  Parser parser(fileName, out, diagnostics);
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) parser.Line(number, line);
  parser.Finish();
}

bool LoadDescription(const std::filesystem::path& path, Description& out, std::vector<Diagnostic>& diagnostics) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    diagnostics.push_back({path.string(), 0, "cannot read the file"});
    return false;
  }
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  const std::size_t before = diagnostics.size();
  ParseDescription(text, path.string(), out, diagnostics);
  return diagnostics.size() == before;
}

}  // namespace patchbuild
