#include "texts.h"

#include <filesystem>

#include "manifest_writer.h"

namespace patchbuild {
namespace {

struct DefaultText {
  int id;
  const char* text;
};

// Every message the installer shows, product-free. The stage that shows
// each one is named beside its id in common/contract.h.
const DefaultText kDefaultTexts[] = {
    {MSG_WRONG_VERSION,
     "Incorrect version of {product} installed ( %s ).  This patch can only be applied to %s."},
    {STR_CAPTION, "{product} Patch"},
    {MSG_SCHEDULE_FAILED, "Unable to set up files to be copied on next boot, patch failed."},
    {MSG_REGISTRY_FAILED, "Error updating the registry, patch failed."},
    {MSG_PATCH_FAILED, "Unable to patch files, patch failed."},
    {MSG_STAGING_FAILED,
     "Error copying files from install directory to tempory patch directory, patch failed."},
    {MSG_EXTRACT_FAILED, "Error extracting needed files, patch failed."},
    {MSG_DIRECTORY_FAILED, "Failed creating directory, patch failed."},
    {MSG_NO_DISK_SPACE,
     "Insufficient disk space to apply patch.  To apply the patch, you need at least 5 Megabytes of free "
     "disk space."},
    {MSG_CONFIRM, "Are you sure you want to upgrade {product} to version {new-version}?"},
    {MSG_RESTART_QUESTION,
     "Patch successful.  Windows must be restarted to complete the changes.  Would you like to restart "
     "Windows now?"},
    {STATUS_DISK_SPACE, "Checking for required disk space"},
    {STATUS_EXTRACTING, "Extracting files, please wait..."},
    {STATUS_COPYING, "Copying files to temporary patch directory"},
    {STATUS_PATCHING, "Patching files, please wait..."},
    {STATUS_REGISTRY, "Updating the Registry"},
    {MSG_CORRUPT_PATCH,
     "Unable to continue with the patch process, the patch program appears to be corrupted."},
    {MSG_NOT_ENGLISH, "Unable to find the English version of {product}"},
    {MSG_UNKNOWN_VERSION, "Unable to identify the current version of {product}.  The patch cannot be applied."},
    {MSG_NOT_INSTALLED,
     "An installation of {product} was not found.  {product} is needed to install this patch.  Unable to "
     "continue."},
    {MSG_RESTART_PENDING, "This patch has already been applied and is waiting for the machine to be restarted."},
};

// The status line's text while the probe runs, before the first stage.
const char kSearchingText[] = "Searching for installation of {product}";

// The progress dialog's fixed layout, in dialog units: a status line and
// nothing the user can press. No system menu, so it cannot be closed while
// the stages run. The styles are the script's, with the DS_SETFONT and
// WS_GROUP that windres adds for FONT and LTEXT.
const char kDialogFont[] = "MS Sans Serif";
constexpr std::uint16_t kDialogFontSize = 8;
constexpr std::uint32_t kDialogStyle = 0x80000000u /* WS_POPUP */ | 0x10000000u /* WS_VISIBLE */ |
                                       0x00C00000u /* WS_CAPTION */ | 0x0080u /* DS_MODALFRAME */ |
                                       0x0800u /* DS_CENTER */ | 0x0040u /* DS_SETFONT */;
constexpr std::uint32_t kStatusStyle = 0x40000000u /* WS_CHILD */ | 0x10000000u /* WS_VISIBLE */ |
                                       0x00020000u /* WS_GROUP */ | 0x0000u /* SS_LEFT */;
constexpr std::int16_t kDialogRect[4] = {0, 0, 193, 23};
constexpr std::int16_t kStatusRect[4] = {7, 7, 179, 10};
constexpr std::uint16_t kStaticClass = 0x0082;

// The conversions of a text: one 's' per %s; any other '%' is put in `bad`.
std::string Conversions(const std::string& text, std::string* bad) {
  std::string found;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 1 < text.size() && text[i + 1] == 's') {
      found += 's';
      ++i;
    } else if (bad && bad->empty()) {
      *bad = text.substr(i, 2);
    }
  }
  return found;
}

std::string LastWord(const std::string& text) {
  const std::size_t blank = text.find_last_of(" \t");
  return blank == std::string::npos ? text : text.substr(blank + 1);
}

void PutWord(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutText(std::string& out, const std::string& text) {
  for (char16_t unit : Cp1252ToUtf16(text)) PutWord(out, unit, 2);
  PutWord(out, 0, 2);
}

void AlignDword(std::string& out) {
  while (out.size() % 4 != 0) out.push_back('\0');
}

}  // namespace

const char* DefaultMessageText(int id) {
  for (const DefaultText& t : kDefaultTexts)
    if (t.id == id) return t.text;
  return nullptr;
}

std::size_t MessageCapacity(int id) {
  if (id == MSG_WRONG_VERSION) return FORMAT_CAPACITY;
  if (id >= STATUS_DISK_SPACE && id <= STATUS_REGISTRY) return STATUS_CAPACITY;
  return MESSAGE_CAPACITY;
}

std::string FillPlaceholders(const std::string& text, const Description& d) {
  const std::pair<const char*, std::string> fills[] = {{"{product}", d.productName.value},
                                                       {"{version}", LastWord(d.expectedVersion.value)},
                                                       {"{new-version}", d.newVersion.value}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool filled = false;
    for (const auto& [name, value] : fills) {
      if (text.compare(i, std::char_traits<char>::length(name), name) == 0) {
        out += value;
        i += std::char_traits<char>::length(name);
        filled = true;
        break;
      }
    }
    if (!filled) out += text[i++];
  }
  return out;
}

void CheckTexts(const Description& d, std::vector<Diagnostic>& diagnostics) {
  // The checks hold for the texts with the placeholders filled in: a '%' in
  // the product name would be a conversion of MSG_WRONG_VERSION's format.
  // A setting is refused once for that; the default texts are otherwise
  // right by construction, so only replacements are checked for '%'.
  const struct {
    const Setting& s;
    const char* word;
  } filled[] = {{d.productName, "product-name"}, {d.newVersion, "new-version"}};
  for (const auto& f : filled)
    if (f.s.value.find('%') != std::string::npos)
      diagnostics.push_back({d.file, f.s.line, std::string(f.word) +
                                                   " holds '%'; the installer formats its messages with wsprintfA"});
  for (const auto& [id, text] : MessageTexts(d)) {
    auto replaced = d.messages.find(id);
    const bool isReplaced = replaced != d.messages.end();
    const int line = isReplaced ? replaced->second.line : d.productName.line;
    const std::string name = "message " + std::to_string(id);
    auto fault = [&](const std::string& message) { diagnostics.push_back({d.file, line, name + message}); };
    if (text.empty()) {
      fault(" is empty; the installer takes an empty string for a missing one");
      continue;
    }
    std::string bad;
    const std::string wanted = Conversions(DefaultMessageText(id), nullptr);
    const std::string got = Conversions(text, &bad);
    if (isReplaced && !bad.empty())
      fault(" holds \"" + bad + "\"; a message may hold only %s, which the installer fills with a string");
    else if (isReplaced && got != wanted)
      fault(" has " + std::to_string(got.size()) + " %s conversions; the original has " +
            std::to_string(wanted.size()));
    const std::size_t capacity = MessageCapacity(id);
    if (text.size() > capacity - 1)
      fault(" is " + std::to_string(text.size()) +
            " characters with the placeholders filled in; the installer reads it into a " +
            std::to_string(capacity) + "-character buffer (at most " + std::to_string(capacity - 1) + ")");
  }
}

std::map<int, std::string> MessageTexts(const Description& d) {
  std::map<int, std::string> texts;
  for (const DefaultText& t : kDefaultTexts) {
    auto it = d.messages.find(t.id);
    texts[t.id] = FillPlaceholders(it != d.messages.end() ? it->second.value : t.text, d);
  }
  return texts;
}

DialogTexts ProgressDialogTexts(const Description& d) {
  return {MessageTexts(d).at(STR_CAPTION), FillPlaceholders(kSearchingText, d)};
}

std::string WriteTextsRc(const Description& d) {
  const DialogTexts dialog = ProgressDialogTexts(d);
  std::string out;
  out += "// The messages and the progress dialog of the " + d.productName.value + " patch, written by\n";
  out += "// patchbuild from " + std::filesystem::path(d.file).filename().string() +
         " and its default texts. Edit the description, not this file.\n";
  out += "STRINGTABLE\nLANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\nBEGIN\n";
  for (const auto& [id, text] : MessageTexts(d)) out += "    " + std::to_string(id) + " " + RcQuote(text) + "\n";
  out += "END\n";
  out += std::to_string(IDD_PROGRESS) + " DIALOG " + std::to_string(kDialogRect[0]) + ", " +
         std::to_string(kDialogRect[1]) + ", " + std::to_string(kDialogRect[2]) + ", " +
         std::to_string(kDialogRect[3]) + "\n";
  out += "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n";
  out += "STYLE DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_VISIBLE | WS_CAPTION\n";
  out += "CAPTION " + RcQuote(dialog.caption) + "\n";
  out += "FONT " + std::to_string(kDialogFontSize) + ", " + RcQuote(kDialogFont) + "\n";
  out += "BEGIN\n    LTEXT " + RcQuote(dialog.status) + ", " + std::to_string(IDC_STATUS) + ", " +
         std::to_string(kStatusRect[0]) + ", " + std::to_string(kStatusRect[1]) + ", " +
         std::to_string(kStatusRect[2]) + ", " + std::to_string(kStatusRect[3]) + "\nEND\n";
  return out;
}

std::u16string Cp1252ToUtf16(const std::string& text) {
  // 0x80 to 0x9F; 0 where 1252 defines no character.
  static const char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                     0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::u16string out;
  for (unsigned char c : text) {
    const char16_t mapped = c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : 0;
    out.push_back(mapped ? mapped : static_cast<char16_t>(c));
  }
  return out;
}

std::map<int, std::string> EncodeStringBlocks(const std::map<int, std::string>& strings) {
  std::map<int, std::map<int, std::u16string>> blocks;
  for (const auto& [id, text] : strings)
    if (!text.empty()) blocks[id / 16 + 1][id % 16] = Cp1252ToUtf16(text);
  std::map<int, std::string> out;
  for (const auto& [block, members] : blocks) {
    std::string bytes;
    for (int index = 0; index < 16; ++index) {
      auto it = members.find(index);
      const std::u16string text = it == members.end() ? std::u16string() : it->second;
      PutWord(bytes, static_cast<std::uint32_t>(text.size()), 2);
      for (char16_t unit : text) PutWord(bytes, unit, 2);
    }
    out[block] = bytes;
  }
  return out;
}

std::string EncodeProgressDialog(const DialogTexts& texts) {
  std::string out;
  PutWord(out, kDialogStyle, 4);
  PutWord(out, 0, 4);  // extended style
  PutWord(out, 1, 2);  // one control
  for (std::int16_t v : kDialogRect) PutWord(out, static_cast<std::uint16_t>(v), 2);
  PutWord(out, 0, 2);  // no menu
  PutWord(out, 0, 2);  // the system's dialog class
  PutText(out, texts.caption);
  PutWord(out, kDialogFontSize, 2);
  PutText(out, kDialogFont);
  AlignDword(out);
  PutWord(out, kStatusStyle, 4);
  PutWord(out, 0, 4);  // extended style
  for (std::int16_t v : kStatusRect) PutWord(out, static_cast<std::uint16_t>(v), 2);
  PutWord(out, IDC_STATUS, 2);
  PutWord(out, 0xFFFF, 2);
  PutWord(out, kStaticClass, 2);
  PutText(out, texts.status);
  PutWord(out, 0, 2);  // no creation data
  return out;
}

}  // namespace patchbuild
