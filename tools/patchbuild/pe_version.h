// Reads the version strings of a PE file the way the installer's
// GetFileVersionInfoA/VerQueryValueA calls see them: the string value of the
// first translation listed under \VarFileInfo\Translation.
#ifndef PATCHBUILD_PE_VERSION_H
#define PATCHBUILD_PE_VERSION_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace patchbuild {

// The named string ("FileVersion", "ProductVersion", ...) of the version
// resource in `image`, or nullopt when the image has no version resource,
// no translation, no string table for the first translation, or no such
// value. Only ASCII text is expected; other characters become '?'.
std::optional<std::string> VersionString(const std::vector<std::uint8_t>& image,
                                         const std::string& name);
std::optional<std::string> FileVersionString(const std::filesystem::path& path,
                                             const std::string& name);

}  // namespace patchbuild

#endif
