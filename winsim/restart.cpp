// The Windows directory and the restart: what a new boot of the machine does
// with the file operations left for it.
//
// Windows NT's session manager carries out PendingFileRenameOperations;
// Windows 95's WININIT carries out the [Rename] section of WININIT.INI.
// Wine's `wineboot -r` does both on every boot, whatever version it plays;
// winsim does only the one of the platform it models. Checked against
// wineboot -r (Wine 8.0):
// - the list: a rename onto an existing file without "!" fails and both
//   files stay; with "!" the file is replaced, read-only or not; a deletion
//   removes a file or an empty directory, but neither a directory that
//   holds anything nor a read-only file; deletions of missing files pass
//   quietly; the value is deleted. A value that does not end in two NULs
//   (a program wrote it back without the list's closing NUL) is not looked
//   at: nothing is done and the value stays.
// - [Rename]: lines run in order, the target replaced (read-only or not);
//   "NUL=" deletes files only: a directory stays, empty or not, and so does
//   a read-only file. WININIT.INI then becomes wininit.bak (Windows 95
//   spells it WININIT.BAK, as winsim does) - but only when the section had
//   lines: a WININIT.INI without [Rename] lines (a program took its own out
//   and left the header, or only comments) stays as it is.
// Read-only files were checked with Wine run as a user other than root
// (root deletes them there).
//
// The operations work on the host files directly: they are not the program's
// calls, so they neither enter the call log nor meet injected faults.
// Attributes that tests set stay with the path, not with the file that moves
// (a replaced file takes over its target's stored attributes), except
// read-only, which lives in the file's permission bits and moves with it: a
// read-only target replaced by a writable file is writable afterwards, on both
// lists, as a probe under wineboot -r showed. Processes and registry handles
// live on across the restart.
#include "internal.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace winsim {
namespace {

const char kDefaultWindowsDirectory[] = "C:\\WINDOWS";

struct Boot {
    std::string windowsDirectory = kDefaultWindowsDirectory;
    std::vector<std::string> log;
};

Boot &B() {
    static Boot boot;
    return boot;
}

void CreateHostDirectory(const std::string &winPath) {
    const std::string host = HostPath(winPath);
    std::error_code ec;
    if (!host.empty()) fs::create_directories(host, ec);
}

// A real machine always has its Windows directory. winsim makes it the first
// time something asks for it (GetWindowsDirectoryA, a profile file named
// without a directory, a restart), so that a test's fresh drive C: holds
// only what the test put there.
const std::string &WindowsDirectoryMade() {
    CreateHostDirectory(B().windowsDirectory);
    return B().windowsDirectory;
}

std::string Trim(const std::string &text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    return text.substr(begin, text.find_last_not_of(" \t") + 1 - begin);
}

// Deletes a file that is not read-only or, when `directories` allows it
// (NT's list, not WININIT.INI), an empty directory. A path that is already
// gone is no failure.
std::string DeleteAtBoot(const std::string &path, bool directories) {
    detail::FileLookup target;
    DWORD error = 0;
    if (!detail::LookUpPath(path, &target, &error)) return "failed, bad path";
    if (!target.exists) return "nothing to delete";
    std::error_code ec;
    if (target.isDir) {
        if (!directories) return "failed, a directory";
        if (!fs::is_empty(target.host, ec)) return "failed, directory not empty";
    } else if (target.attributes & FILE_ATTRIBUTE_READONLY) {
        return "failed, read-only";
    }
    fs::remove(target.host, ec);
    return ec ? "failed, " + ec.message() : "done";
}

// Renames `from` to `to`. An existing target is replaced only when `replace`
// says so; otherwise the rename fails and both stay. Across drives: Windows
// 95's WININIT copies, NT's session manager fails.
std::string RenameAtBoot(const std::string &from, const std::string &to, bool replace) {
    detail::FileLookup source, target;
    DWORD error = 0;
    if (!detail::LookUpPath(from, &source, &error) || !detail::LookUpPath(to, &target, &error))
        return "failed, bad path";
    if (!source.exists) return "failed, source missing";
    const bool sameEntry = target.exists && target.host == source.host;
    if (target.exists && !sameEntry) {
        if (!replace) return "failed, target exists";
        if (target.isDir) return "failed, target is a directory";
    }
    const fs::path destination = target.host;
    std::error_code ec;
    if (!fs::is_directory(destination.parent_path(), ec)) return "failed, path not found";
    const bool otherDrive = source.winPath[0] != target.winPath[0];
    if (otherDrive && GetPlatform() == Platform::WindowsNT) return "failed, another drive";
    if (target.exists && !sameEntry) fs::remove(destination, ec);
    if (ec) return "failed, " + ec.message();
    if (otherDrive) {
        fs::copy_file(source.host, destination, fs::copy_options::overwrite_existing, ec);
        if (!ec) fs::remove(source.host, ec);
    } else {
        fs::rename(source.host, destination, ec);
    }
    return ec ? "failed, " + ec.message() : "done";
}

void Log(const std::string &line) { B().log.push_back(line); }

// NT: the value holds pairs of strings, source then target; the list ends
// at an empty source. An empty target deletes the source, a target that
// begins with "!" may replace an existing file. "\??\" is taken off both.
void RunPendingRenames() {
    std::string list;
    if (!detail::ReadPendingRenames(&list)) {
        Log("PendingFileRenameOperations: none");
        return;
    }
    if (list.size() < 2 || list.compare(list.size() - 2, 2, std::string(2, '\0')) != 0) {
        Log("PendingFileRenameOperations: not ended by two NULs, left as it is");
        return;
    }
    auto strip = [](std::string path) {
        if (path.compare(0, 4, "\\??\\") == 0) path.erase(0, 4);
        return path;
    };
    size_t at = 0;
    auto next = [&]() {
        if (at >= list.size()) return std::string();
        size_t end = list.find('\0', at);
        if (end == std::string::npos) end = list.size();
        std::string text = list.substr(at, end - at);
        at = end + 1;
        return text;
    };
    for (std::string source = next(); !source.empty(); source = next()) {
        std::string target = next();
        const std::string from = strip(source);
        if (target.empty()) {
            Log("delete " + from + ": " + DeleteAtBoot(from, true));
            continue;
        }
        const bool replace = target[0] == '!';
        const std::string to = strip(replace ? target.substr(1) : target);
        Log("rename " + from + " -> " + to + (replace ? " (replace)" : "") + ": " +
            RenameAtBoot(from, to, replace));
    }
    detail::DeletePendingRenames();
    Log("PendingFileRenameOperations: deleted");
}

// Windows 95: "target=source" moves source onto target, replacing it;
// "NUL=path" deletes the file path. Lines of every program are carried out
// alike.
// Windows 95's WININIT runs before long names are known and wants 8.3
// names; winsim takes long names as well, as Wine does.
void RunWininit() {
    const std::string ini = WindowsDirectoryMade() + "\\WININIT.INI";
    std::vector<std::string> lines;
    if (!detail::ReadProfileSection(ini, "Rename", &lines)) {
        Log("WININIT.INI: none");
        return;
    }
    if (lines.empty()) {
        Log("WININIT.INI: no [Rename] lines, left as it is");
        return;
    }
    for (const std::string &line : lines) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            Log("line " + line + ": ignored, no =");
            continue;
        }
        const std::string target = Trim(line.substr(0, equals));
        const std::string source = Trim(line.substr(equals + 1));
        if (detail::FoldCase(target) == "nul")
            Log("delete " + source + ": " + DeleteAtBoot(source, false));
        else
            Log("rename " + source + " -> " + target + ": " + RenameAtBoot(source, target, true));
    }
    Log("WININIT.INI -> WININIT.BAK: " +
        RenameAtBoot(ini, B().windowsDirectory + "\\WININIT.BAK", true));
}

}  // namespace

namespace detail {

void ResetRestart() {
    DropHeldFiles();
    B() = Boot();
}

std::string WindowsDirectory() { return WindowsDirectoryMade(); }

}  // namespace detail

void SetWindowsDirectory(const std::string &winPath) {
    B().windowsDirectory = winPath;
    CreateHostDirectory(winPath);
}

void Restart() {
    B().log.clear();
    detail::DropHeldFiles();
    if (GetPlatform() == Platform::WindowsNT)
        RunPendingRenames();
    else
        RunWininit();
}

const std::vector<std::string> &RestartLog() { return B().log; }

}  // namespace winsim

using winsim::detail::Enter;

// NT and 95: the directory SetWindowsDirectory chose, "C:\WINDOWS" by
// default. Too small a buffer (or none) is left alone and the result is the
// size needed including the terminator; otherwise the length without it.
// Nothing fails but an injected fault.
UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    if (Enter("GetWindowsDirectoryA")) return 0;
    const std::string &directory = winsim::WindowsDirectoryMade();
    return winsim::detail::CopyOutOrSizeNeeded(directory, lpBuffer, uSize);
}
