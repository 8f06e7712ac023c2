// Writes the manifest part of the installer's resource script: one
// STRINGTABLE with strings 100 to 102, the blocks, 7000, 7001 and 8000.
// String 102 is written only for a description with an expected-checksum:
// without it the installer trusts the version string alone.
#ifndef PATCHBUILD_MANIFEST_WRITER_H
#define PATCHBUILD_MANIFEST_WRITER_H

#include <cstdint>
#include <map>
#include <string>

#include "description.h"

namespace patchbuild {

// The text of string 102 for a checksum.
std::string ChecksumString(std::uint32_t checksum);

// A string as a resource-script literal: quotes doubled, backslashes escaped.
std::string RcQuote(const std::string& text);

// The manifest strings by id, for a description that passed its checks
// (its expected-checksum, if any, is then the installed file's).
std::map<int, std::string> ManifestStrings(const Description& d);

// The STRINGTABLE for a description that passed its checks.
std::string WriteManifestRc(const Description& d);

}  // namespace patchbuild

#endif
