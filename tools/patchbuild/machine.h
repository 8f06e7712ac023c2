// A machine image on the host: a folder holding drive_c/ (drive C: as it
// lies on disk) and machine.reg (its registry, REGEDIT4). The patch's
// install and shared directories are read from the registry values the
// installer's probe reads.
#ifndef PATCHBUILD_MACHINE_H
#define PATCHBUILD_MACHINE_H

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "description.h"
#include "regfile.h"

namespace patchbuild {

extern const char kInstalledAppsKey[];  // HKLM\Software\Quenmark\InstalledApps
extern const char kSharedUsageKey[];    // HKLM\Software\Quenmark\SharedUsage
extern const char kSharedDllsKey[];     // HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs
extern const char kSharedLocationValue[];  // "Location1"

// directory, a "\" unless it already ends in one, then the name.
std::string JoinPath(const std::string& directory, const std::string& name);

struct MachineImage {
  std::filesystem::path root;
  Registry registry;
  std::string installDir, sharedDir;  // Windows paths, as stored

  // The host file of a path on drive C:, its components matched without
  // regard to case as Windows would; nullopt when it does not exist.
  std::optional<std::filesystem::path> Locate(const std::string& windowsPath) const;
};

bool LoadMachineImage(const std::filesystem::path& root, const std::string& registryName, MachineImage& out,
                      std::string* error);

// The host path of a Windows path on drive C: below `driveC`, or nullopt
// for a path on another drive.
std::optional<std::filesystem::path> HostPathOnDriveC(const std::filesystem::path& driveC,
                                                      const std::string& windowsPath);

// A file of `directory` (a host folder) matched by name without regard to case.
std::optional<std::filesystem::path> FindFileNoCase(const std::filesystem::path& directory, const std::string& name);

// Checks the description against the machine the patch is built for and
// the folder of new files: that every installed file, new file and shared
// file it names exists, that the version-check file carries the expected
// version (and checksum, when one is given), and that no joined path
// outgrows the installer's 260-character buffers with this machine's
// directories. Appends one diagnostic per fault.
void CheckAgainstMachine(const Description& d, const MachineImage& machine, const std::filesystem::path& newDir,
                         std::vector<Diagnostic>& diagnostics);

}  // namespace patchbuild

#endif
