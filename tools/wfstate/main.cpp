// wfstate: the machine state after an installer run, from winsim or from a
// Wine prefix, in one text form (README.md), so the two can be compared.
//
//   wfstate run --before DIR --platform nt|95 ACTION... --out STATE
//               [--res FILE] [--twin FILE] [--twin-of NAME=PROGRAM]... [--keep DIR]
//     ACTION, carried out in the order given: --prepare STEP (prepare.h),
//     --installer EXE (the later runs are of that program's resources),
//     --run ANSWERS (one installer run, e.g. Yes,No), --restart
//   wfstate normalize --drive-c DIR --reg FILE... --boxes LOG...
//               [--restart-requested] --out STATE
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "app/run_patch.h"
#include "commit/commit.h"
#include "manifest/manifest.h"
#include "prepare.h"
#include "state.h"
#include "winsim.h"

namespace fs = std::filesystem;

namespace {

const char kCaption[] = "Tolvane Wayfront Patch";

[[noreturn]] void Usage(const std::string &why) {
    std::cerr << "wfstate: " << why << "\n"
              << "usage: wfstate run --before DIR --platform nt|95 "
                 "(--prepare STEP | --installer EXE | --run ANSWERS | --restart)... --out STATE\n"
                 "       wfstate normalize --drive-c DIR [--reg FILE]... [--boxes LOG]... "
                 "[--restart-requested] --out STATE\n";
    std::exit(2);
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

std::string RestartSection(bool requested) {
    return std::string("# restart\n") + (requested ? "requested\n" : "none\n");
}

// Each run is a process of its own, as under Wine: what it held is closed,
// and the installer's process-wide state does not reach the next run (a run
// that fails before its commit leaves its plan behind).
void EndInstallerProcess() {
    ForgetCommitState();
    winsim::EndProcess();
}

struct Action {
    bool restart = false;
    std::string prepare;    // a preparation step, when not empty
    std::string installer;  // a program whose resources the next runs use, when not empty
    std::vector<int> answers;
};

int ButtonId(const std::string &name) {
    const std::string upper = [&] {
        std::string u;
        for (char c : name) u += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return u;
    }();
    if (upper == "YES") return IDYES;
    if (upper == "NO") return IDNO;
    if (upper == "OK") return IDOK;
    if (upper == "CANCEL") return IDCANCEL;
    Usage("unknown answer " + name);
}

const char *ButtonName(int id) {
    switch (id) {
    case IDYES: return "YES";
    case IDNO: return "NO";
    case IDOK: return "OK";
    case IDCANCEL: return "CANCEL";
    default: return "?";
    }
}

const char *ButtonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OK: return "OK";
    case MB_YESNO: return "YESNO";
    default: return "?";  // the installer shows no other kind
    }
}

int Run(int argc, char **argv) {
    std::string before, platform, out, keep;
    std::string res = WF_RES_PATH, twin = WF_PATCH_TWIN;
    std::vector<Action> actions;
    std::vector<std::pair<std::string, std::string>> moreTwins;  // program name, host program
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--before") before = value();
        else if (arg == "--platform") platform = value();
        else if (arg == "--prepare") actions.push_back(Action{false, value(), {}, {}});
        else if (arg.compare(0, 10, "--prepare=") == 0) actions.push_back(Action{false, arg.substr(10), {}, {}});
        else if (arg == "--out") out = value();
        else if (arg == "--res") res = value();
        else if (arg == "--twin") twin = value();
        else if (arg == "--twin-of") {
            const std::string pair = value();
            const size_t eq = pair.find('=');
            if (eq == std::string::npos || eq == 0) Usage("--twin-of needs NAME=PROGRAM");
            moreTwins.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
        }
        else if (arg == "--keep") keep = value();
        else if (arg == "--restart") actions.push_back(Action{true, {}, {}, {}});
        else if (arg == "--installer") actions.push_back(Action{false, {}, value(), {}});
        else if (arg == "--run") {
            Action action;
            std::string list = value(), word;
            for (size_t at = 0; at <= list.size(); ++at) {
                if (at == list.size() || list[at] == ',') {
                    if (!word.empty() && word != "-") action.answers.push_back(ButtonId(word));
                    word.clear();
                } else {
                    word += list[at];
                }
            }
            actions.push_back(action);
        } else Usage("unknown option " + arg);
    }
    if (before.empty() || out.empty() || (platform != "nt" && platform != "95"))
        Usage("run needs --before, --platform nt|95 and --out");

    std::string root = keep;
    if (root.empty()) {
        std::string pattern = (fs::temp_directory_path() / "wfstate-XXXXXX").string();
        if (!mkdtemp(&pattern[0])) return std::perror("mkdtemp"), 1;
        root = pattern;
    } else {
        fs::remove_all(root);
        fs::create_directories(root);
    }
    winsim::Reset(root);
    if (!winsim::LoadResFile(res)) return std::cerr << "wfstate: cannot load " << res << "\n", 1;
    SetPatchModule(winsim::ModuleInstance());
    std::string error;
    if (!winsim::LoadMachineImage(before, &error)) return std::cerr << "wfstate: " << error << "\n", 1;
    winsim::SetPlatform(platform == "nt" ? winsim::Platform::WindowsNT : winsim::Platform::Windows95);
    winsim::RegisterHostTwin("patch.exe", twin);
    for (const auto &[name, program] : moreTwins) winsim::RegisterHostTwin(name, program);

    for (const Action &action : actions) {
        if (!action.prepare.empty()) {
            if (!wfstate::ApplyPrepareStep(action.prepare, &error))
                return std::cerr << "wfstate: " << error << "\n", 1;
            continue;
        }
        if (action.restart) {
            winsim::Restart();
            continue;
        }
        if (!action.installer.empty()) {
            if (!winsim::LoadProgramResources(action.installer))
                return std::cerr << "wfstate: cannot read the resources of " << action.installer << "\n", 1;
            continue;
        }
        winsim::QueueAnswers(action.answers);
        RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
        EndInstallerProcess();
    }

    std::vector<wfstate::Box> boxes;
    bool restartRequested = false;
    for (const winsim::UiEvent &event : winsim::UiEvents()) {
        if (event.kind == winsim::UiEvent::ExitWindows) restartRequested = true;
        if (event.kind != winsim::UiEvent::MessageBox) continue;
        wfstate::Box box;
        box.buttons = ButtonsOf(event.type);
        box.owned = event.window != nullptr;
        box.caption = event.caption;
        box.text = wfstate::EscapeLogText(event.text);
        box.answer = ButtonName(event.answer);
        boxes.push_back(box);
    }
    const std::string driveC = (fs::path(root) / "c").string();
    // Paths the machine wrote resolve through winsim's own lookup, which
    // knows its short names.
    auto expand = [&](const std::string &path) {
        std::string prefix, rest = path;
        if (!rest.empty() && rest[0] == '!') prefix += '!', rest.erase(0, 1);
        if (rest.compare(0, 4, "\\??\\") == 0) prefix += "\\??\\", rest.erase(0, 4);
        // Only full paths: "NUL" on the left of a [Rename] line is no file.
        if (rest.size() < 3 || rest[1] != ':' || rest[2] != '\\') return path;
        const std::string host = winsim::HostPath(rest);
        if (host.empty() || host.compare(0, driveC.size() + 1, driveC + "/") != 0) return path;
        std::string relative = host.substr(driveC.size() + 1);
        for (char &c : relative) c = c == '/' ? '\\' : c;
        return prefix + "C:\\" + relative;
    };
    const std::string state = wfstate::FilesSection(driveC, "WINDOWS") +
                              wfstate::WininitSection(driveC, "WINDOWS", expand) + wfstate::RegistrySection(expand) +
                              wfstate::BoxesSection(boxes, kCaption) + RestartSection(restartRequested);
    winsim::Reset(root + "/scratch");
    std::error_code ec;
    if (keep.empty()) fs::remove_all(root, ec);
    if (!WriteFile(out, state)) return std::cerr << "wfstate: cannot write " << out << "\n", 1;
    return 0;
}

int Normalize(int argc, char **argv) {
    std::string driveC, out;
    std::vector<std::string> regs, logs;
    bool restartRequested = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--drive-c") driveC = value();
        else if (arg == "--reg") regs.push_back(value());
        else if (arg == "--boxes") logs.push_back(value());
        else if (arg == "--out") out = value();
        else if (arg == "--restart-requested") restartRequested = true;
        else Usage("unknown option " + arg);
    }
    if (driveC.empty() || out.empty()) Usage("normalize needs --drive-c and --out");

    std::string pattern = (fs::temp_directory_path() / "wfstate-XXXXXX").string();
    if (!mkdtemp(&pattern[0])) return std::perror("mkdtemp"), 1;
    winsim::Reset(pattern);
    for (const std::string &reg : regs) {
        // regedit writes no file for a key that does not exist.
        if (!fs::exists(reg)) continue;
        std::string error;
        if (!winsim::ImportRegFile(reg, &error))
            return std::cerr << "wfstate: " << reg << ": " << error << "\n", 1;
    }
    std::vector<wfstate::Box> boxes;
    for (const std::string &log : logs)
        for (const wfstate::Box &box : wfstate::ReadBoxLog(ReadFile(log))) boxes.push_back(box);
    auto expand = [&](const std::string &path) { return wfstate::ExpandShortPath(driveC, path); };
    const std::string state = wfstate::FilesSection(driveC, "windows") +
                              wfstate::WininitSection(driveC, "windows", expand) + wfstate::RegistrySection(expand) +
                              wfstate::BoxesSection(boxes, kCaption) + RestartSection(restartRequested);
    std::error_code ec;
    winsim::Reset(pattern + "/scratch");
    fs::remove_all(pattern, ec);
    if (!WriteFile(out, state)) return std::cerr << "wfstate: cannot write " << out << "\n", 1;
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) Usage("no command");
    const std::string command = argv[1];
    if (command == "run") return Run(argc, argv);
    if (command == "normalize") return Normalize(argc, argv);
    Usage("unknown command " + command);
}
