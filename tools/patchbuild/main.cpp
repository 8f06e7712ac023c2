// patchbuild: the host tool that turns a patch description into the
// installer's manifest, and the helpers the sample product's build uses.
//
//   patchbuild check          DESC --before DIR --new DIR
//   patchbuild manifest       DESC --before DIR --new DIR -o FILE.rc
//   patchbuild texts          DESC -o FILE.rc
//   patchbuild expected-after DESC --before DIR --new DIR --out DIR [--log FILE]
//                             [--strict-renames]
//   patchbuild checksum       FILE
//   patchbuild fix-checksum   IN OUT VALUE
//   patchbuild payload        DESC --new DIR --patcher FILE --patcher-data FILE
//                             --pif FILE --out DIR -o FILE.rc
//   patchbuild patch-data     DESC --before DIR --new DIR -o FILE
//   patchbuild build          DESC --before DIR --new DIR -o OUT.exe
//                             [--expected-after DIR] [--stub FILE] [--patcher FILE]
//
// --before is a machine image (drive_c/ and machine.reg) with the old
// version installed; --new is the folder of new builds (payload files and
// the new versions of the patched files). Exit status 0 on success, 1 when
// the description or a file is refused, 2 for a usage error. fix-checksum
// writes IN with one byte appended so that its checksum is VALUE.
// --strict-renames: delayed renames at the restart do not replace an
// existing file, as on NT and Wine for renames registered without
// MOVEFILE_REPLACE_EXISTING (see after_model.h).
// payload packs the files of block 1000 into --out under their stored names
// (see payload.h) and writes the resource script that names them and the PIF
// template; the patcher and its data come from --patcher and --patcher-data,
// every other file from --new. Files are rewritten only when they change.
// texts writes the messages and the progress dialog (see texts.h); it needs
// nothing but the description.
// patch-data makes each delta with our own VCDIFF encoder and checks it
// with the patcher's decoder before writing anything.
// build makes the whole installer: the patch data, the payload and the PIF
// template, the manifest strings, the messages and the progress dialog, all
// written as the resources of a copy of --stub (the product-free installer,
// wfstub.exe) without a resource compiler; --patcher is the patcher program
// the payload carries. Both default to wfstub.exe and patch.exe beside
// patchbuild itself (the build's dist/ holds all three). --expected-after
// also writes the machine after the patch, as expected-after does.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "after_model.h"
#include "formats/checksum.h"
#include "formats/machine_image.h"
#include "description.h"
#include "machine.h"
#include "manifest_writer.h"
#include "patch_data_writer.h"
#include "payload.h"
#include "texts.h"
#include "formats/pe_resources.h"
#include "formats/pe_version.h"
#include "pif_template.h"

namespace fs = std::filesystem;
using namespace patchbuild;

namespace {

int Usage() {
  std::cerr << "usage:\n"
               "  patchbuild build          DESC --before DIR --new DIR -o OUT.exe\n"
               "                             [--expected-after DIR] [--stub FILE] [--patcher FILE]\n"
               "  patchbuild check          DESC --before DIR --new DIR\n"
               "  patchbuild manifest       DESC --before DIR --new DIR -o FILE.rc\n"
               "  patchbuild texts          DESC -o FILE.rc\n"
               "  patchbuild expected-after DESC --before DIR --new DIR --out DIR [--log FILE]\n"
               "                             [--strict-renames]\n"
               "  patchbuild checksum       FILE\n"
               "  patchbuild fix-checksum   IN OUT VALUE\n"
               "  patchbuild payload        DESC --new DIR --patcher FILE --patcher-data FILE\n"
               "                             --pif FILE --out DIR -o FILE.rc\n"
               "  patchbuild patch-data     DESC --before DIR --new DIR -o FILE\n";
  return 2;
}

struct Options {
  std::vector<std::string> positional;
  std::map<std::string, std::string> named;
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--before" || a == "--new" || a == "--out" || a == "--log" || a == "-o" ||
        a == "--patcher" || a == "--patcher-data" || a == "--pif" || a == "--stub" ||
        a == "--expected-after") {
      if (i + 1 >= argc) return false;
      o.named[a] = argv[++i];
    } else if (a == "--strict-renames") {
      o.named[a] = "";
    } else if (a.size() > 1 && a[0] == '-') {
      return false;
    } else {
      o.positional.push_back(a);
    }
  }
  return true;
}

bool WriteFileAtomically(const fs::path& path, const std::string& text) {
  const fs::path temp = path.string() + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary);
    out << text;
    if (!out) return false;
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  return !ec;
}

// Loads and checks the description and the machine; prints every fault.
bool LoadChecked(const Options& o, Description& d, MachineImage& machine) {
  std::vector<Diagnostic> diagnostics;
  LoadDescription(o.positional[0], d, diagnostics);
  bool ok = diagnostics.empty();
  if (ok) {
    std::string error;
    if (!LoadMachineImage(o.named.at("--before"), d.registryName.value, machine, &error)) {
      std::cerr << error << "\n";
      return false;
    }
    CheckAgainstMachine(d, machine, o.named.at("--new"), diagnostics);
    ok = diagnostics.empty();
  }
  for (const Diagnostic& diag : diagnostics) std::cerr << diag.Text() << "\n";
  return ok;
}

int Check(const Options& o) {
  Description d;
  MachineImage machine;
  return LoadChecked(o, d, machine) ? 0 : 1;
}

int Manifest(const Options& o) {
  Description d;
  MachineImage machine;
  if (!LoadChecked(o, d, machine)) return 1;
  if (!WriteFileAtomically(o.named.at("-o"), WriteManifestRc(d))) {
    std::cerr << "cannot write " << o.named.at("-o") << "\n";
    return 1;
  }
  return 0;
}

int Texts(const Options& o) {
  Description d;
  std::vector<Diagnostic> diagnostics;
  LoadDescription(o.positional[0], d, diagnostics);
  for (const Diagnostic& diag : diagnostics) std::cerr << diag.Text() << "\n";
  if (!diagnostics.empty()) return 1;
  if (!WriteFileAtomically(o.named.at("-o"), WriteTextsRc(d))) {
    std::cerr << "cannot write " << o.named.at("-o") << "\n";
    return 1;
  }
  return 0;
}

int ExpectedAfter(const Options& o) {
  Description d;
  MachineImage machine;
  if (!LoadChecked(o, d, machine)) return 1;
  ModelMachine model = LoadModelMachine(formats::ImageDriveC(machine.root), machine.registry);
  ModelInputs inputs;
  inputs.installDir = machine.installDir;
  inputs.sharedDir = machine.sharedDir;
  const fs::path newDir = o.named.at("--new");
  inputs.newFile = [&](const std::string& name) { return FindFileNoCase(newDir, name); };
  inputs.fileVersion = [](const fs::path& f) { return formats::FileVersionString(f, "FileVersion"); };
  inputs.strictRenames = o.named.count("--strict-renames") > 0;
  const ModelResult result = RunPatchModel(d, inputs, model);
  std::ofstream logFile;
  if (o.named.count("--log")) logFile.open(o.named.at("--log"));
  std::ostream& log = logFile.is_open() ? logFile : std::cout;
  for (const std::string& line : result.log) log << line << "\n";
  if (!result.ok) {
    std::cerr << "the installer would not complete: " << result.failure << "\n";
    return 1;
  }
  std::string error;
  if (!WriteModelMachine(model, o.named.at("--out"), &error)) {
    std::cerr << error << "\n";
    return 1;
  }
  return 0;
}

int Checksum(const Options& o) {
  const auto sum = formats::FileChecksum(o.positional[0]);
  if (!sum) {
    std::cerr << "cannot read " << o.positional[0] << "\n";
    return 1;
  }
  std::cout << *sum << "\n";
  return 0;
}

int FixChecksumCommand(const Options& o) {
  std::ifstream in(o.positional[0], std::ios::binary);
  if (!in) {
    std::cerr << "cannot read " << o.positional[0] << "\n";
    return 1;
  }
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  const unsigned long long target = std::stoull(o.positional[2]);
  std::string why;
  if (target > 0xFFFFFFFFull || !formats::AppendChecksumByte(bytes, static_cast<std::uint32_t>(target), &why)) {
    std::cerr << o.positional[0] << ": " << (why.empty() ? "the value is not 32-bit" : why) << "\n";
    return 1;
  }
  if (!WriteFileAtomically(o.positional[1], std::string(bytes.begin(), bytes.end()))) {
    std::cerr << "cannot write " << o.positional[1] << "\n";
    return 1;
  }
  return 0;
}

std::optional<std::vector<std::uint8_t>> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  if (in.bad()) return std::nullopt;
  return bytes;
}

// Leaves a file that already holds `bytes` untouched, so that its time
// stamp tells the build whether anything changed.
bool WriteIfChanged(const fs::path& path, const std::string& bytes) {
  const auto old = ReadBytes(path);
  if (old && std::equal(old->begin(), old->end(), bytes.begin(), bytes.end())) return true;
  return WriteFileAtomically(path, bytes);
}

// A payload entry's resource bytes: its file (or `made`, content the
// builder made itself), stored plain or SZDD-compressed. Says why not.
std::optional<std::vector<std::uint8_t>> ReadAndPack(const PayloadItem& item, const std::string* made) {
  const auto content = made ? std::optional<std::vector<std::uint8_t>>(std::in_place, made->begin(), made->end())
                            : ReadBytes(item.source);
  if (!content) {
    std::cerr << "cannot read " << item.source.string() << "\n";
    return std::nullopt;
  }
  std::string error;
  auto packed = PackPayload(item, *content, &error);
  if (!packed) std::cerr << error << "\n";
  return packed;
}

int Payload(const Options& o) {
  Description d;
  std::vector<Diagnostic> diagnostics;
  LoadDescription(o.positional[0], d, diagnostics);
  for (const Diagnostic& diag : diagnostics) std::cerr << diag.Text() << "\n";
  if (!diagnostics.empty()) return 1;

  const fs::path newDir = o.named.at("--new");
  const fs::path patcher = o.named.at("--patcher");
  const fs::path patcherData = o.named.at("--patcher-data");
  auto source = [&](const std::string& name) -> std::optional<fs::path> {
    if (d.patcher.Given() && SameName(name, d.patcher.value)) return patcher;
    if (d.patcherData.Given() && SameName(name, d.patcherData.value)) return patcherData;
    return FindFileNoCase(newDir, name);
  };
  const fs::path outDir = fs::absolute(o.named.at("--out"));
  std::vector<std::string> errors;
  std::vector<PayloadItem> items = PlanPayload(d, source, outDir, errors);
  for (const std::string& e : errors) std::cerr << e << "\n";
  if (!errors.empty()) return 1;

  std::error_code ec;
  fs::create_directories(outDir, ec);
  std::uint64_t digest = Fnv1a({});
  for (PayloadItem& item : items) {
    item.source = fs::absolute(item.source);
    const auto packed = ReadAndPack(item, nullptr);
    if (!packed) return 1;
    digest = Fnv1a(*packed, digest);
    if (!WriteIfChanged(item.packed, std::string(packed->begin(), packed->end()))) {
      std::cerr << "cannot write " << item.packed.string() << "\n";
      return 1;
    }
  }
  const fs::path pif = fs::absolute(o.named.at("--pif"));
  const auto pifBytes = ReadBytes(pif);
  if (!pifBytes) {
    std::cerr << "cannot read " << pif.string() << "\n";
    return 1;
  }
  digest = Fnv1a(*pifBytes, digest);
  if (!WriteIfChanged(o.named.at("-o"), WritePayloadRc(items, pif, digest))) {
    std::cerr << "cannot write " << o.named.at("-o") << "\n";
    return 1;
  }
  return 0;
}

// patch-data: the patcher's data for the installed files of block 2000,
// their old versions from the machine image and their new ones from --new.
bool MakePatchData(const Description& d, const MachineImage& machine, const fs::path& newDir, std::string* data) {
  std::vector<PatchDataFile> files;
  for (const Entry& entry : d.EntriesOf(BLOCK_STAGED_FILES)) {
    const auto oldFile = machine.Locate(JoinPath(machine.installDir, entry.name));
    const auto newFile = FindFileNoCase(newDir, entry.name);
    PatchDataFile file;
    file.name = entry.name;
    const auto oldBytes = oldFile ? ReadBytes(*oldFile) : std::nullopt;
    const auto newBytes = newFile ? ReadBytes(*newFile) : std::nullopt;
    if (!oldBytes || !newBytes) {
      std::cerr << entry.name << ": cannot read its " << (oldBytes ? "new" : "installed") << " version\n";
      return false;
    }
    file.oldBytes = *oldBytes;
    file.newBytes = *newBytes;
    std::string error;
    if (!MakeDelta(&file, &error)) {
      std::cerr << error << "\n";
      return false;
    }
    files.push_back(std::move(file));
  }
  std::string error;
  if (!EncodePatchData(files, data, &error)) {
    std::cerr << error << "\n";
    return false;
  }
  return true;
}

int PatchDataCommand(const Options& o) {
  Description d;
  MachineImage machine;
  std::string data;
  if (!LoadChecked(o, d, machine) || !MakePatchData(d, machine, o.named.at("--new"), &data)) return 1;
  if (!WriteIfChanged(o.named.at("-o"), data)) {
    std::cerr << "cannot write " << o.named.at("-o") << "\n";
    return 1;
  }
  return 0;
}

// build: everything the installer carries, as the resources of a copy of
// the stub. The resources are those the resource script gives the windres
// build: the string table (manifest strings and messages), the progress
// dialog, the payload files and the PIF template, all in US English.
int Build(const Options& o) {
  Description d;
  MachineImage machine;
  if (!LoadChecked(o, d, machine)) return 1;
  std::string patchData;
  if (d.patcherData.Given() && !MakePatchData(d, machine, o.named.at("--new"), &patchData)) return 1;

  // The payload, packed in memory: the patcher from --patcher, its data as
  // just made, every other file from --new.
  const fs::path newDir = o.named.at("--new");
  const fs::path patcher = o.named.at("--patcher");
  const fs::path madeData = "(patch data)";
  auto source = [&](const std::string& name) -> std::optional<fs::path> {
    if (d.patcher.Given() && SameName(name, d.patcher.value)) return patcher;
    if (d.patcherData.Given() && SameName(name, d.patcherData.value)) return madeData;
    return FindFileNoCase(newDir, name);
  };
  std::vector<std::string> errors;
  const std::vector<PayloadItem> items = PlanPayload(d, source, fs::path(), errors);
  for (const std::string& e : errors) std::cerr << e << "\n";
  if (!errors.empty()) return 1;

  constexpr std::uint32_t kEnglishUs = 0x409;
  constexpr std::uint32_t kString = 6, kDialog = 5, kRawData = 10;
  std::vector<formats::Resource> resources;
  auto add = [&](std::uint32_t type, std::uint32_t id, std::string bytes) {
    formats::Resource r;
    r.type.id = type;
    r.name.id = id;
    r.language = kEnglishUs;
    r.bytes = std::move(bytes);
    resources.push_back(std::move(r));
  };
  for (const PayloadItem& item : items) {
    const auto packed = ReadAndPack(item, item.source == madeData ? &patchData : nullptr);
    if (!packed) return 1;
    add(kRawData, static_cast<std::uint32_t>(item.resourceId), std::string(packed->begin(), packed->end()));
  }
  const std::vector<std::uint8_t> pif = piftemplate::BuildPifTemplate();
  add(kRawData, ID_PIF_TEMPLATE, std::string(pif.begin(), pif.end()));
  std::map<int, std::string> strings = ManifestStrings(d);
  for (const auto& [id, text] : MessageTexts(d)) strings[id] = text;
  for (const auto& [block, bytes] : EncodeStringBlocks(strings)) add(kString, static_cast<std::uint32_t>(block), bytes);
  add(kDialog, IDD_PROGRESS, EncodeProgressDialog(ProgressDialogTexts(d)));

  const auto stub = ReadBytes(o.named.at("--stub"));
  if (!stub) {
    std::cerr << "cannot read " << o.named.at("--stub") << "\n";
    return 1;
  }
  std::string error;
  const auto image = formats::WithResources(std::string(stub->begin(), stub->end()), resources, &error);
  if (!image) {
    std::cerr << o.named.at("--stub") << ": " << error << "\n";
    return 1;
  }
  std::error_code ec;
  if (!WriteFileAtomically(o.named.at("-o"), *image)) {
    std::cerr << "cannot write " << o.named.at("-o") << "\n";
    return 1;
  }
  // A program, so executable where the host's permissions say so.
  fs::permissions(o.named.at("-o"), fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
  if (o.named.count("--expected-after")) {
    Options after = o;
    after.named["--out"] = o.named.at("--expected-after");
    return ExpectedAfter(after);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  Options o;
  if (!ParseOptions(argc, argv, o)) return Usage();
  auto has = [&](std::initializer_list<const char*> names, std::size_t positional) {
    for (const char* n : names)
      if (!o.named.count(n)) return false;
    return o.positional.size() == positional;
  };
  try {
    if (command == "check" && has({"--before", "--new"}, 1)) return Check(o);
    if (command == "manifest" && has({"--before", "--new", "-o"}, 1)) return Manifest(o);
    if (command == "texts" && has({"-o"}, 1)) return Texts(o);
    if (command == "expected-after" && has({"--before", "--new", "--out"}, 1)) return ExpectedAfter(o);
    if (command == "checksum" && has({}, 1)) return Checksum(o);
    if (command == "fix-checksum" && has({}, 3)) return FixChecksumCommand(o);
    if (command == "payload" && has({"--new", "--patcher", "--patcher-data", "--pif", "--out", "-o"}, 1))
      return Payload(o);
    if (command == "patch-data" && has({"--before", "--new", "-o"}, 1)) return PatchDataCommand(o);
    if (command == "build" && has({"--before", "--new", "-o"}, 1)) {
      // The stub and the patcher lie beside this program unless named.
      std::error_code ec;
      const fs::path kit = fs::read_symlink("/proc/self/exe", ec).parent_path();
      o.named.emplace("--stub", (kit / "wfstub.exe").string());
      o.named.emplace("--patcher", (kit / "patch.exe").string());
      return Build(o);
    }
  } catch (const std::exception& e) {
    std::cerr << "patchbuild: " << e.what() << "\n";
    return 1;
  }
  return Usage();
}
