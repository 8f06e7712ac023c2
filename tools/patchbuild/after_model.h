// A model of what a good run of the installer on Windows NT, followed by
// one restart, does to the machine: extraction into the patch directory,
// the staging copy, the patcher (stood in for by the new builds of the
// patched files), shared usage accounting, replacement scheduling and the
// restart's delayed renames and deletions.
//
// By default, at the restart a delayed rename puts the new file in place
// even where the destination exists. The installer registers its renames
// without MOVEFILE_REPLACE_EXISTING, and NT's session manager (and Wine's
// wineboot -r) then leaves an existing destination alone and the new file
// under its replacement name; `strictRenames` models that instead.
#ifndef PATCHBUILD_AFTER_MODEL_H
#define PATCHBUILD_AFTER_MODEL_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "description.h"
#include "regfile.h"

namespace patchbuild {

// The installer's ParseCount: leading white space, an optional sign, then
// digits, accumulated with 32-bit wrapping.
std::int32_t ParseCount(const char* text);
// The installer's CompareVersions: the difference of the first pair of
// numbers that differ; numbers are separated by any run of non-digits.
std::int32_t CompareVersions(const std::string& first, const std::string& second);

struct ModelFile {
  std::string windowsPath;        // as the last writer named it
  std::filesystem::path content;  // host file with its bytes; empty: an empty stand-in
};

struct ModelMachine {
  std::map<std::string, ModelFile> files;  // by lower-case Windows path
  Registry registry;

  const ModelFile* Find(const std::string& windowsPath) const;
  void Put(const std::string& windowsPath, const std::filesystem::path& content);
  bool Erase(const std::string& windowsPath);
};

struct ModelInputs {
  std::string installDir, sharedDir;
  // The new build of a file named in the description (payload entries and
  // the patched files of block 2000), or nullopt.
  std::function<std::optional<std::filesystem::path>(const std::string& name)> newFile;
  // A file's FileVersion string, or nullopt.
  std::function<std::optional<std::string>(const std::filesystem::path& file)> fileVersion;
  bool strictRenames = false;
};

struct ModelResult {
  bool ok = true;
  std::string failure;           // why the installer would fail, when !ok
  std::vector<std::string> log;  // one line per decision, for the build log
};

// Runs the model on `machine`, changing it into the state after the run
// and the restart.
ModelResult RunPatchModel(const Description& d, const ModelInputs& inputs, ModelMachine& machine);

// Reads drive_c/ of a machine image into the model (files by content path).
ModelMachine LoadModelMachine(const std::filesystem::path& driveC, const Registry& registry);
// Writes the model as a machine image: drive_c/ and machine.reg. `root`
// is emptied first.
bool WriteModelMachine(const ModelMachine& machine, const std::filesystem::path& root, std::string* error);

}  // namespace patchbuild

#endif
