// The patch description: the plain-text file a patch author edits, from
// which the builder writes the installer's manifest strings.
//
//   # a comment, to the end of the line
//   product-name      "Tolvane Wayfront"
//   registry-name     "Tolvane Wayfront"      string 8000
//   version-check     wayfront.exe            string 100
//   expected-version  "VERSION 95.0.b"        string 101
//   expected-checksum 1281953886              optional: the build refuses another
//   new-version       "95.0.C"                the version the patch makes, for the texts
//   patcher           patch.exe               string 7000
//   patcher-data      patch.rtp               string 7001
//   message 217 "..."                         optional: replaces a default text (texts.h)
//
//   block 1000 "14 Count of files to extract"
//     patch.ex_ patch.exe                     stored name, expanded name
//     patch.rt_ patch.rtp plain               "plain": stored uncompressed
//     extra "empty" "empty"                   strings after the count (1015, 1115)
//   block 2000 "5 Count of files to copy from appdir to patch dir"
//     wayfront.exe
//     ...
//
// Tokens are separated by blanks; a token holding blanks is written in
// double quotes (\" and \\ inside). A block's first string is its count
// text, which must begin with the number of entries that follow.
#ifndef PATCHBUILD_DESCRIPTION_H
#define PATCHBUILD_DESCRIPTION_H

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/contract.h"

namespace patchbuild {

// The string ids, the block layout, the installer's buffer sizes and its
// work directory's name come from the installer's own header,
// common/contract.h. The blocks a description may give (1100 is written
// from 1000's entries):
extern const int kBlockBases[7];

struct Diagnostic {
  std::string file;
  int line = 0;  // 0: the file as a whole
  std::string message;
  std::string Text() const;  // "file:line: message"
};

struct Setting {
  std::string value;
  int line = 0;  // 0: not given
  bool Given() const { return line != 0; }
};

struct Entry {
  std::string name;    // block 1000: the expanded name
  std::string stored;  // block 1000 only: the name the resource is written under
  bool plain = false;  // block 1000 only: stored without compression
  int line = 0;
};

struct Extra {  // a string after the counted entries, never read by the installer
  std::string text;
  std::string expandedText;  // block 1000 only: the string at 1100 + n
  int line = 0;
};

struct Block {
  int base = 0;
  int line = 0;
  std::string countText;
  std::vector<Entry> entries;
  std::vector<Extra> extras;
};

struct Description {
  std::string file;
  Setting productName, registryName, versionCheck, expectedVersion, expectedChecksum,
      patcher, patcherData, newVersion;
  std::map<int, Setting> messages;  // replaced texts by message id
  std::map<int, Block> blocks;

  const Block* FindBlock(int base) const;
  // Entries of a block (empty when the block is absent).
  std::vector<Entry> EntriesOf(int base) const;
};

// Reads the text and checks everything that needs nothing but the text:
// syntax, required settings and blocks, counts, name lengths and
// characters, duplicates, and that every name refers to a file the patch
// has (a payload entry or an installed file of block 2000), and the texts
// (see texts.h). Appends one
// diagnostic per fault; the description is usable only when none was added.
void ParseDescription(const std::string& text, const std::string& fileName, Description& out,
                      std::vector<Diagnostic>& diagnostics);
bool LoadDescription(const std::filesystem::path& path, Description& out,
                     std::vector<Diagnostic>& diagnostics);

// Why `name` cannot be a bare file name in the manifest, or empty if it can.
std::string BareNameFault(const std::string& name);

}  // namespace patchbuild

#endif
