#include "prepare.h"

#include <filesystem>
#include <fstream>

#include "winsim.h"

namespace fs = std::filesystem;

namespace wfstate {

namespace {

bool Fail(std::string *error, const std::string &why) {
    if (error) *error = why;
    return false;
}

}  // namespace

bool ApplyPrepareStep(const std::string &step, std::string *error) {
    const size_t colon = step.find(':');
    if (colon == std::string::npos) return Fail(error, "prepare step without ':': " + step);
    const std::string verb = step.substr(0, colon), arg = step.substr(colon + 1);
    std::error_code ec;
    if (verb == "remove") {
        const std::string host = winsim::HostPath(arg);
        if (host.empty() || !fs::is_regular_file(host)) return Fail(error, "no file to remove: " + arg);
        fs::remove(host, ec);
        return ec ? Fail(error, arg + ": " + ec.message()) : true;
    }
    if (verb == "mkdir") {
        const std::string host = winsim::HostPath(arg);
        if (host.empty()) return Fail(error, "bad path: " + arg);
        fs::create_directories(host, ec);
        return ec ? Fail(error, arg + ": " + ec.message()) : true;
    }
    if (verb == "file") {
        const size_t equals = arg.find('=');
        if (equals == std::string::npos) return Fail(error, "file step without '=': " + step);
        const std::string path = arg.substr(0, equals);
        const std::string host = winsim::HostPath(path);
        if (host.empty()) return Fail(error, "bad path: " + path);
        fs::create_directories(fs::path(host).parent_path(), ec);
        return winsim::WriteWholeFile(path, arg.substr(equals + 1)) ? true : Fail(error, "cannot write " + path);
    }
    if (verb == "add-rename-line") {
        char windows[MAX_PATH];
        const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
        if (length == 0 || length >= sizeof windows) return Fail(error, "no Windows directory");
        const std::string ini = std::string(windows) + "\\WININIT.INI";
        std::string text;
        if (!winsim::ReadWholeFile(ini, &text)) text = "[Rename]\r\n";
        return winsim::WriteWholeFile(ini, text + arg + "\r\n") ? true : Fail(error, "cannot write " + ini);
    }
    return Fail(error, "unknown prepare step: " + verb);
}

}  // namespace wfstate
