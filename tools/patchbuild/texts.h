// The texts the user sees: the messages (strings 200 to 220) and the
// progress dialog (115). One product-free table holds the default texts,
// with placeholders that the description fills in:
//
//   {product}      product-name                      "Tolvane Wayfront"
//   {version}      expected-version's last word      "95.0.b"
//   {new-version}  new-version                       "95.0.C"
//
// A description may replace any message by its id (`message 209 "..."`,
// placeholders allowed), for another language. The dialog's caption is the
// text of STR_CAPTION; its status line first reads the searching text.
//
// The builder writes these texts as a resource script for windres, and as
// the binary resources windres would make of it (RT_STRING blocks, the
// RT_DIALOG template), for a resource section written without windres.
#ifndef PATCHBUILD_TEXTS_H
#define PATCHBUILD_TEXTS_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "description.h"

namespace patchbuild {

// The default text of message `id` (placeholders unfilled), or nullptr when
// `id` is not a message.
const char* DefaultMessageText(int id);
// Characters the installer reads message `id` into, terminator included.
std::size_t MessageCapacity(int id);

// The placeholders of `text` filled in from the description.
std::string FillPlaceholders(const std::string& text, const Description& d);

// Checks the final texts, placeholders filled in: each must hold the %s
// conversions of its default text (any other '%' is refused, since the
// installer passes only strings to wsprintfA), must not be empty, and must
// fit the installer's buffer. Appends one diagnostic per fault.
void CheckTexts(const Description& d, std::vector<Diagnostic>& diagnostics);

// The final texts, placeholders filled in: messages by id.
std::map<int, std::string> MessageTexts(const Description& d);
struct DialogTexts {
  std::string caption;
  std::string status;
};
DialogTexts ProgressDialogTexts(const Description& d);

// The resource script of the messages and the progress dialog.
std::string WriteTextsRc(const Description& d);

// ---- The binary resources, as windres lays them out ---------------------

// A text of ANSI code page 1252 in UTF-16 code units, as windres converts
// it (the five bytes 1252 leaves undefined keep their value).
std::u16string Cp1252ToUtf16(const std::string& text);

// The RT_STRING blocks for strings by id: block id -> bytes. Block n holds
// strings 16(n-1) to 16(n-1)+15, each a 16-bit length and its code units.
std::map<int, std::string> EncodeStringBlocks(const std::map<int, std::string>& strings);

// The RT_DIALOG template of the progress dialog (IDD_PROGRESS).
std::string EncodeProgressDialog(const DialogTexts& texts);

}  // namespace patchbuild

#endif
