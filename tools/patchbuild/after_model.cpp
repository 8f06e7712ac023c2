#include "after_model.h"

#include <algorithm>
#include <cstdint>
#include <fstream>

#include "common/registry_keys.h"
#include "formats/machine_image.h"
#include "machine.h"

namespace fs = std::filesystem;

namespace patchbuild {

std::int32_t ParseCount(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  std::uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<std::uint32_t>(*text - '0');
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

std::int32_t CompareVersions(const std::string& first, const std::string& second) {
  const char* a = first.c_str();
  const char* b = second.c_str();
  std::int32_t result = 0;
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  while (*a && *b) {
    // In 64 bits and saturated, as the installer does: a 32-bit difference
    // would wrap ("3000000000" reads as a negative number) and turn the sign.
    const std::int64_t difference = static_cast<std::int64_t>(ParseCount(a)) - ParseCount(b);
    result = static_cast<std::int32_t>(std::clamp<std::int64_t>(difference, INT32_MIN, INT32_MAX));
    for (const char** p : {&a, &b}) {
      while (isDigit(**p)) ++*p;
      while (**p && !isDigit(**p)) ++*p;
    }
    if (result != 0) return result;
  }
  return result;
}

const ModelFile* ModelMachine::Find(const std::string& windowsPath) const {
  auto it = files.find(Lower(windowsPath));
  return it == files.end() ? nullptr : &it->second;
}

void ModelMachine::Put(const std::string& windowsPath, const fs::path& content) {
  files[Lower(windowsPath)] = ModelFile{windowsPath, content};
}

bool ModelMachine::Erase(const std::string& windowsPath) { return files.erase(Lower(windowsPath)) > 0; }

namespace {

enum class OpKind { Replace, Delete };

struct PendingOp {
  std::string source, destination;
  OpKind kind;
};

// The last character replaced: "wfcore.dll" waits as "wfcore.dlX".
std::string ReplacementName(const std::string& path) { return path.substr(0, path.size() - 1) + "X"; }

class Model {
 public:
  Model(const Description& d, const ModelInputs& in, ModelMachine& m) : d_(d), in_(in), m_(m) {
    patchDir_ = JoinPath(in.installDir, PATCH_DIRECTORY_NAME);
  }

  ModelResult Run() {
    if (Extract() && StageCopy() && Patch() && SharedUsage() && Schedule()) {
      RecordViewerDialog();
      Restart();
    }
    return result_;
  }

 private:
  bool Fail(const std::string& why) {
    result_.ok = false;
    result_.failure = why;
    return false;
  }
  void Log(const std::string& line) { result_.log.push_back(line); }

  bool Extract() {
    for (const Entry& e : d_.EntriesOf(BLOCK_PAYLOAD)) {
      auto file = in_.newFile(e.name);
      const bool patcherFile = (d_.patcher.Given() && SameName(e.name, d_.patcher.value)) ||
                               (d_.patcherData.Given() && SameName(e.name, d_.patcherData.value));
      if (!file && !patcherFile) return Fail("payload entry " + e.name + " has no new build");
      m_.Put(JoinPath(patchDir_, e.name), file ? *file : fs::path());
    }
    return true;
  }

  bool StageCopy() {
    for (const Entry& e : d_.EntriesOf(BLOCK_STAGED_FILES)) {
      const ModelFile* installed = m_.Find(JoinPath(in_.installDir, e.name));
      if (!installed) return Fail("staging copy: " + JoinPath(in_.installDir, e.name) + " is missing");
      m_.Put(JoinPath(patchDir_, e.name), installed->content);
    }
    return true;
  }

  // The patcher turns each staged copy into its new version.
  bool Patch() {
    for (const Entry& e : d_.EntriesOf(BLOCK_STAGED_FILES)) {
      auto file = in_.newFile(e.name);
      if (!file) return Fail("patched file " + e.name + " has no new build");
      m_.Put(JoinPath(patchDir_, e.name), *file);
    }
    return true;
  }

  std::optional<std::string> VersionOf(const std::string& windowsPath) {
    const ModelFile* f = m_.Find(windowsPath);
    if (!f || f->content.empty()) return std::nullopt;
    auto v = in_.fileVersion(f->content);
    if (v && v->empty()) return std::nullopt;
    return v;
  }

  // Counts are read through a 10-byte buffer: longer text reads as absent.
  static const RegValue* ReadableCount(const RegKey& dlls, const std::string& name) {
    const RegValue* v = dlls.Find(name);
    return v && !(v->isString && v->data.size() > 9) ? v : nullptr;
  }

  bool SharedUsage() {
    Registry& reg = m_.registry;
    RegKey* dlls = reg.Find(kSharedDllsKey);
    if (!dlls || !reg.Find(kSharedUsageKey)) {
      Log("shared usage: no SharedDLLs or SharedUsage key; nothing counted");
      return true;
    }
    const std::string product = d_.registryName.value;
    bool success = true;
    for (const Entry& e : d_.EntriesOf(BLOCK_SHARED_REMOVED)) {
      if (!success) break;
      const std::string countPath = JoinPath(in_.sharedDir, e.name);
      std::string line = "stops using " + e.name + ": ";
      if (const RegValue* v = ReadableCount(*dlls, countPath)) {
        if (!v->isString) {
          success = false;
          line += "count is not text (the installer fails)";
        } else {
          const std::int32_t old = ParseCount(v->data.c_str());
          if (old - 1 > 0) {
            dlls->SetString(countPath, std::to_string(old - 1));
            line += "count " + std::to_string(old) + " -> " + std::to_string(old - 1);
          } else {
            dlls->Remove(countPath);
            ops_.push_back({countPath, "", OpKind::Delete});
            line += "count " + std::to_string(old) + " -> value deleted, shared copy deleted";
          }
        }
      } else {
        line += "no count";
      }
      const std::string usagePath = JoinPath(kSharedUsageKey, e.name);
      if (RegKey* usage = reg.Find(usagePath)) {
        usage->Remove(product);
        if (usage->values.size() == 1 && reg.DeleteLeaf(usagePath)) line += "; usage key deleted";
      } else {
        success = false;
        line += "; no usage key (the installer fails)";
      }
      Log(line);
    }
    for (const Entry& e : d_.EntriesOf(BLOCK_SHARED_ADDED)) {
      if (!success) break;
      const std::string countPath = JoinPath(in_.sharedDir, e.name);
      std::string line = "adds " + e.name + ": ";
      std::string count = "1";
      if (const RegValue* v = ReadableCount(*dlls, countPath)) {
        if (!v->isString) success = false;
        else count = std::to_string(ParseCount(v->data.c_str()) + 1);
      }
      if (success) {
        dlls->SetString(countPath, count);
        line += "count " + count;
        const std::string newCopy = JoinPath(patchDir_, e.name);
        const std::string sharedCopy = JoinPath(in_.sharedDir, e.name);
        const auto newVersion = VersionOf(newCopy);
        if (!newVersion) {
          success = false;
          line += "; the payload copy has no FileVersion (the installer fails)";
        } else {
          const std::string sharedVersion = VersionOf(sharedCopy).value_or("0");
          if (CompareVersions(*newVersion, sharedVersion) > 0) {
            ops_.push_back({newCopy, sharedCopy, OpKind::Replace});
            line += "; payload " + *newVersion + " above shared " + sharedVersion + ": replaced";
          } else {
            ops_.push_back({newCopy, "", OpKind::Delete});
            line += "; payload " + *newVersion + " not above shared " + sharedVersion + ": shared copy kept";
          }
        }
      } else {
        line += "count is not text (the installer fails)";
      }
      bool created = false;
      RegKey& usage = reg.Create(JoinPath(kSharedUsageKey, e.name), &created);
      if (created) usage.SetString("", in_.sharedDir);
      usage.SetString(product, in_.installDir);
      Log(line);
    }
    return success ? true : Fail("shared usage accounting fails (message 203)");
  }

  bool Schedule() {
    struct BlockOps {
      int base;
      const std::string* destinationDir;
    } blocks[] = {{BLOCK_INSTALL_MOVES, &in_.installDir},
                  {BLOCK_SHARED_MOVES, &in_.sharedDir},
                  {BLOCK_CLEANUP, nullptr}};
    for (const auto& b : blocks) {
      for (const Entry& e : d_.EntriesOf(b.base)) {
        const std::string source = JoinPath(patchDir_, e.name);
        if (!m_.Find(source)) return Fail("replacement scheduling: " + source + " is missing (message 202)");
        if (b.destinationDir) ops_.push_back({source, JoinPath(*b.destinationDir, e.name), OpKind::Replace});
        else ops_.push_back({source, "", OpKind::Delete});
      }
    }
    // The list is last in, first out: both passes meet the records newest first.
    for (auto op = ops_.rbegin(); op != ops_.rend(); ++op) {
      if (op->kind != OpKind::Replace) continue;
      const std::string waiting = ReplacementName(op->destination);
      const ModelFile* file = m_.Find(op->source);
      if (!file) return Fail("replacement scheduling: cannot stage " + op->source + " (message 202)");
      m_.Put(waiting, fs::path(file->content));
      m_.Erase(op->source);
      op->source = waiting;
    }
    // Windows NT: replacements wait for the restart; deletions happen now.
    for (auto op = ops_.rbegin(); op != ops_.rend(); ++op) {
      if (op->kind == OpKind::Replace) delayed_.push_back(*op);
      else if (!m_.Erase(op->source)) delayed_.push_back(*op);
    }
    for (const auto& [key, file] : m_.files)
      if (key.compare(0, Lower(patchDir_).size() + 1, Lower(patchDir_) + "\\") == 0)
        Log("left in the patch directory: " + file.windowsPath);
    return true;
  }

  // The viewer's dialog, recorded by every good run (it is the same record
  // whichever product is patched).
  void RecordViewerDialog() {
    RegKey& key = m_.registry.Create("HKEY_CURRENT_USER\\" VIEWER_DIALOG_KEY);
    key.SetString("OwnerClassName", VIEWER_OWNER_CLASS);
    key.SetString("WindowClassName", VIEWER_WINDOW_CLASS);
    const std::pair<const char*, std::uint32_t> numbers[] = {{"DriveNameCtrlId", VIEWER_DRIVE_CONTROL},
                                                             {"FolderNameCtrlId", VIEWER_FOLDER_CONTROL},
                                                             {"FileNameCtrlId", VIEWER_FILE_CONTROL}};
    for (const auto& [name, number] : numbers) {
      RegValue value{name, false, std::string(4, '\0'), formats::kRegDword};
      for (int i = 0; i < 4; ++i) value.data[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
      if (RegValue* old = key.Find(name)) *old = value;
      else key.values.push_back(value);
    }
    Log("viewer dialog recorded");
  }

  void Restart() {
    for (const PendingOp& op : delayed_) {
      const ModelFile* file = m_.Find(op.source);
      if (!file) continue;
      if (op.kind == OpKind::Delete) {
        m_.Erase(op.source);
        continue;
      }
      if (in_.strictRenames && m_.Find(op.destination)) {
        Log("restart: " + op.destination + " exists; the rename from " + op.source + " fails");
        continue;
      }
      const fs::path content = file->content;
      m_.Erase(op.source);
      m_.Put(op.destination, content);
    }
  }

  const Description& d_;
  const ModelInputs& in_;
  ModelMachine& m_;
  std::string patchDir_;
  std::vector<PendingOp> ops_;  // in the order of pushing
  std::vector<PendingOp> delayed_;
  ModelResult result_;
};

}  // namespace

ModelResult RunPatchModel(const Description& d, const ModelInputs& inputs, ModelMachine& machine) {
  return Model(d, inputs, machine).Run();
}

ModelMachine LoadModelMachine(const fs::path& driveC, const Registry& registry) {
  ModelMachine m;
  m.registry = registry;
  for (const auto& entry : fs::recursive_directory_iterator(driveC)) {
    if (!entry.is_regular_file()) continue;
    std::string windowsPath = "C:";
    for (const auto& part : fs::relative(entry.path(), driveC)) windowsPath += "\\" + part.string();
    m.Put(windowsPath, entry.path());
  }
  return m;
}

bool WriteModelMachine(const ModelMachine& machine, const fs::path& root, std::string* error) {
  std::error_code ec;
  fs::remove_all(root, ec);
  const fs::path driveC = formats::ImageDriveC(root);
  fs::create_directories(driveC, ec);
  for (const auto& [key, file] : machine.files) {
    const auto host = HostPathOnDriveC(driveC, file.windowsPath);
    if (!host) {
      if (error) *error = file.windowsPath + " is not on drive C:";
      return false;
    }
    fs::create_directories(host->parent_path(), ec);
    if (file.content.empty()) {
      std::ofstream(*host, std::ios::binary);
    } else if (!fs::copy_file(file.content, *host, fs::copy_options::overwrite_existing, ec)) {
      if (error) *error = "cannot copy " + file.content.string() + " to " + host->string() + ": " + ec.message();
      return false;
    }
  }
  std::ofstream reg(formats::ImageRegistryFile(root), std::ios::binary);
  reg << WriteRegedit4(machine.registry);
  if (!reg) {
    if (error) *error = "cannot write " + formats::ImageRegistryFile(root).string();
    return false;
  }
  return true;
}

}  // namespace patchbuild
