#include "machine.h"

#include <fstream>
#include <iterator>

#include "common/registry_keys.h"
#include "formats/checksum.h"
#include "formats/machine_image.h"
#include "formats/pe_version.h"

namespace fs = std::filesystem;

namespace patchbuild {

// The installer's keys, all under HKEY_LOCAL_MACHINE.
const char kInstalledAppsKey[] = "HKEY_LOCAL_MACHINE\\" INSTALLED_APPS_KEY;
const char kSharedUsageKey[] = "HKEY_LOCAL_MACHINE\\" SHARED_USAGE_KEY;
const char kSharedDllsKey[] = "HKEY_LOCAL_MACHINE\\" SHARED_DLLS_KEY;
const char kSharedLocationValue[] = SHARED_LOCATION_VALUE;

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty() || directory.back() == '\\') return directory + name;
  return directory + "\\" + name;
}

std::optional<fs::path> FindFileNoCase(const fs::path& directory, const std::string& name) {
  std::error_code ec;
  if (fs::exists(directory / name, ec)) return directory / name;
  for (const auto& entry : fs::directory_iterator(directory, ec))
    if (SameName(entry.path().filename().string(), name)) return entry.path();
  return std::nullopt;
}

std::optional<fs::path> HostPathOnDriveC(const fs::path& driveC, const std::string& windowsPath) {
  if (windowsPath.size() < 2 || (windowsPath[0] != 'C' && windowsPath[0] != 'c') || windowsPath[1] != ':')
    return std::nullopt;
  fs::path host = driveC;
  std::size_t start = 2;
  while (start <= windowsPath.size()) {
    std::size_t end = windowsPath.find('\\', start);
    if (end == std::string::npos) end = windowsPath.size();
    if (end > start) host /= windowsPath.substr(start, end - start);
    start = end + 1;
  }
  return host;
}

std::optional<fs::path> MachineImage::Locate(const std::string& windowsPath) const {
  fs::path host = formats::ImageDriveC(root);
  if (!HostPathOnDriveC(host, windowsPath)) return std::nullopt;
  std::size_t start = 3;
  while (start < windowsPath.size()) {
    std::size_t end = windowsPath.find('\\', start);
    if (end == std::string::npos) end = windowsPath.size();
    if (end > start) {
      auto found = FindFileNoCase(host, windowsPath.substr(start, end - start));
      if (!found) return std::nullopt;
      host = *found;
    }
    start = end + 1;
  }
  return host;
}

bool LoadMachineImage(const fs::path& root, const std::string& registryName, MachineImage& out, std::string* error) {
  out = MachineImage{};
  out.root = root;
  const fs::path regPath = formats::ImageRegistryFile(root);
  std::string text, why;
  if (!formats::ReadImageRegistry(root, &text, error)) return false;
  if (!ParseRegedit4(text, out.registry, &why)) {
    if (error) *error = regPath.string() + ": " + why;
    return false;
  }
  auto read = [&](const char* key, const std::string& value, std::string& into) {
    const RegKey* k = out.registry.Find(key);
    const RegValue* v = k ? k->Find(value) : nullptr;
    if (!v || !v->isString || v->data.empty()) {
      if (error) *error = regPath.string() + ": no text value \"" + value + "\" under " + key;
      return false;
    }
    into = v->data;
    return true;
  };
  if (!read(kInstalledAppsKey, registryName, out.installDir)) return false;
  if (!read(kSharedUsageKey, kSharedLocationValue, out.sharedDir)) return false;
  if (!out.Locate(out.installDir)) {
    if (error) *error = root.string() + ": the install directory " + out.installDir + " is not in drive_c";
    return false;
  }
  return true;
}

namespace {

// Where each block's names are joined by the installer, and with what.
struct Joins {
  bool install, shared, patch;
};

Joins JoinsOf(int base) {
  switch (base) {
    case BLOCK_PAYLOAD: return {false, false, true};
    case BLOCK_STAGED_FILES: return {true, false, true};
    case BLOCK_SHARED_ADDED: return {false, true, true};
    case BLOCK_SHARED_REMOVED: return {false, true, false};
    case BLOCK_INSTALL_MOVES: return {true, false, true};
    case BLOCK_SHARED_MOVES: return {false, true, true};
    default: return {false, false, true};  // block 6000
  }
}

}  // namespace

void CheckAgainstMachine(const Description& d, const MachineImage& machine, const fs::path& newDir,
                         std::vector<Diagnostic>& diagnostics) {
  auto fault = [&](int line, const std::string& message) { diagnostics.push_back({d.file, line, message}); };
  const std::string patchDir = JoinPath(machine.installDir, PATCH_DIRECTORY_NAME);

  // Installed files the patcher changes: present now, and their new builds.
  for (const Entry& e : d.EntriesOf(BLOCK_STAGED_FILES)) {
    if (!machine.Locate(JoinPath(machine.installDir, e.name)))
      fault(e.line, "unknown file \"" + e.name + "\": not in the install directory " + machine.installDir);
    if (!FindFileNoCase(newDir, e.name))
      fault(e.line, "unknown file \"" + e.name + "\": no new version in " + newDir.string());
  }
  // Payload files: the new builds, except the patcher and its data, which
  // the patch build itself makes.
  for (const Entry& e : d.EntriesOf(BLOCK_PAYLOAD)) {
    const bool patcherFile = (d.patcher.Given() && SameName(e.name, d.patcher.value)) ||
                             (d.patcherData.Given() && SameName(e.name, d.patcherData.value));
    if (!patcherFile && !FindFileNoCase(newDir, e.name))
      fault(e.line, "unknown file \"" + e.name + "\": not in " + newDir.string());
  }
  for (const Entry& e : d.EntriesOf(BLOCK_SHARED_REMOVED))
    if (!machine.Locate(JoinPath(machine.sharedDir, e.name)))
      fault(e.line, "unknown file \"" + e.name + "\": not in the shared directory " + machine.sharedDir);

  // Path lengths with this machine's directories.
  for (const auto& [base, block] : d.blocks) {
    const Joins j = JoinsOf(base);
    for (const Entry& e : block.entries) {
      for (const std::string& name : {e.name, e.stored}) {
        if (name.empty()) continue;
        for (const auto& [use, dir] : {std::make_pair(j.install, machine.installDir),
                                       std::make_pair(j.shared, machine.sharedDir),
                                       std::make_pair(j.patch, patchDir)}) {
          const std::string path = JoinPath(dir, name);
          if (use && path.size() > NAME_CAPACITY - 1)
            fault(e.line, "\"" + name.substr(0, 32) + (name.size() > 32 ? "..." : "") + "\" in " + dir +
                              " makes a path of " + std::to_string(path.size()) +
                              " characters; the installer joins paths in 260-character buffers");
        }
      }
    }
  }

  // The version-check file: its version and checksum.
  if (!d.versionCheck.Given()) return;
  const auto file = machine.Locate(JoinPath(machine.installDir, d.versionCheck.value));
  if (!file) {
    fault(d.versionCheck.line, "unknown file \"" + d.versionCheck.value + "\": not in the install directory " +
                                   machine.installDir);
    return;
  }
  if (d.expectedVersion.Given()) {
    const auto version = formats::FileVersionString(*file, "ProductVersion");
    if (!version)
      fault(d.expectedVersion.line, file->string() + " has no readable ProductVersion");
    else if (!SameName(*version, d.expectedVersion.value))
      fault(d.expectedVersion.line, file->string() + " carries ProductVersion \"" + *version +
                                        "\", not \"" + d.expectedVersion.value + "\"");
  }
  if (d.expectedChecksum.Given()) {
    const auto sum = formats::FileChecksum(*file);
    if (!sum)
      fault(d.expectedChecksum.line, "cannot read " + file->string());
    else if (*sum != std::stoull(d.expectedChecksum.value))
      fault(d.expectedChecksum.line, file->string() + " has checksum " + std::to_string(*sum) + ", not " +
                                         d.expectedChecksum.value);
  }
}

}  // namespace patchbuild
