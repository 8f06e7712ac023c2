#include "prepare.h"

#include <cstdlib>
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
    if (verb == "readonly" || verb == "writable") {
        const DWORD attributes = GetFileAttributesA(arg.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Fail(error, "no file: " + arg);
        const DWORD wanted = verb == "readonly" ? attributes | FILE_ATTRIBUTE_READONLY
                                                : attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        return SetFileAttributesA(arg.c_str(), wanted) ? true : Fail(error, "cannot set the attributes of " + arg);
    }
    if (verb == "move") {
        const size_t equals = arg.find('=');
        if (equals == std::string::npos) return Fail(error, "move step without '=': " + step);
        const std::string from = winsim::HostPath(arg.substr(0, equals));
        const std::string to = winsim::HostPath(arg.substr(equals + 1));
        if (from.empty() || to.empty() || !fs::exists(from) || fs::exists(to))
            return Fail(error, "cannot move " + arg.substr(0, equals) + " to " + arg.substr(equals + 1));
        fs::create_directories(fs::path(to).parent_path(), ec);
        if (!ec) fs::rename(from, to, ec);
        return ec ? Fail(error, arg + ": " + ec.message()) : true;
    }
    if (verb == "reg-dword" || verb == "reg-sz") {
        // A number ends the step, a text may hold '=': the name ends at the
        // last '=' or at the first.
        const size_t bar = arg.find('|');
        const size_t equals = bar == std::string::npos ? std::string::npos
                              : verb == "reg-sz"       ? arg.find('=', bar)
                                                       : arg.rfind('=');
        if (bar == std::string::npos || equals == std::string::npos || equals < bar)
            return Fail(error, verb + " step is not <key>|<value>=<data>: " + step);
        const std::string keyPath = arg.substr(0, bar), name = arg.substr(bar + 1, equals - bar - 1);
        const std::string number = arg.substr(equals + 1);
        char *end = nullptr;
        const unsigned long value = std::strtoul(number.c_str(), &end, 10);
        if (verb == "reg-dword" && (number.empty() || *end != '\0' || value > 0xFFFFFFFFul))
            return Fail(error, "not a DWORD: " + number);
        HKEY root;
        if (keyPath.compare(0, 5, "HKLM\\") == 0) root = HKEY_LOCAL_MACHINE;
        else if (keyPath.compare(0, 5, "HKCU\\") == 0) root = HKEY_CURRENT_USER;
        else return Fail(error, "key not under HKLM\\ or HKCU\\: " + keyPath);
        HKEY key;
        if (RegCreateKeyExA(root, keyPath.c_str() + 5, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return Fail(error, "cannot open " + keyPath);
        const DWORD data = static_cast<DWORD>(value);
        const LONG set =
            verb == "reg-sz"
                ? RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(number.c_str()),
                                 static_cast<DWORD>(number.size() + 1))
                : RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data),
                                 sizeof data);
        RegCloseKey(key);
        return set == ERROR_SUCCESS ? true : Fail(error, "cannot set " + keyPath + "|" + name);
    }
    return Fail(error, "unknown prepare step: " + verb);
}

}  // namespace wfstate
