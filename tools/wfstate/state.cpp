#include "state.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "formats/crc32.h"
#include "winsim.h"

namespace fs = std::filesystem;

namespace wfstate {

namespace {

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool SameName(const std::string &a, const std::string &b) { return Lower(a) == Lower(b); }

std::string ReadHostFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.push_back(std::string());
    return parts;
}

// The entry of `dir` named `name`, compared without case; empty if none.
fs::path FindEntry(const fs::path &dir, const std::string &name) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return fs::path();
    for (const auto &entry : fs::directory_iterator(dir, ec))
        if (SameName(entry.path().filename().string(), name)) return entry.path();
    return fs::path();
}

std::string ResolveComponent(const fs::path &dir, const std::string &component) {
    if (!FindEntry(dir, component).empty() || component.find('~') == std::string::npos)
        return component;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return component;
    std::vector<std::string> byPrefix;
    const std::string prefix = Upper(component.substr(0, component.find('~')));
    for (const auto &entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (WineShortName(name) == Upper(component)) return name;
        std::string squeezed;
        for (char c : name)
            if (c != ' ') squeezed += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (!prefix.empty() && squeezed.compare(0, prefix.size(), prefix) == 0) byPrefix.push_back(name);
    }
    return byPrefix.size() == 1 ? byPrefix[0] : component;
}

const char kTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";

bool InvalidDosChar(char c) { return std::string(" *?<>|\"+=,;[]/\\:.").find(c) != std::string::npos; }

}  // namespace

std::string WineShortName(const std::string &longName) {
    if (longName.empty()) return std::string();
    const std::string name = Lower(longName);
    std::uint16_t hash = 0xBEEF;
    for (size_t i = 0; i + 1 < name.size(); ++i)
        hash = static_cast<std::uint16_t>((hash << 3) ^ (hash >> 5) ^ static_cast<unsigned char>(name[i]) ^
                                          (static_cast<unsigned char>(name[i + 1]) << 8));
    hash = static_cast<std::uint16_t>((hash << 3) ^ (hash >> 5) ^ static_cast<unsigned char>(name.back()));

    size_t ext = std::string::npos;  // the last dot, not the first or last character
    for (size_t i = 1; i + 1 < longName.size(); ++i)
        if (longName[i] == '.') ext = i;
    std::string out;
    size_t p = 0;
    int left = 4;
    for (; left > 0 && p < longName.size() && p != ext; --left, ++p)
        out += InvalidDosChar(longName[p]) ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(longName[p])));
    out.append(static_cast<size_t>(left) + 1, '~');
    out += kTable[(hash >> 10) & 0x1F];
    out += kTable[(hash >> 5) & 0x1F];
    out += kTable[hash & 0x1F];
    if (ext != std::string::npos) {
        out += '.';
        for (size_t i = ext + 1; i < longName.size() && i < ext + 4; ++i)
            out += InvalidDosChar(longName[i]) ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(longName[i])));
    }
    return out;
}

std::string ExpandShortPath(const std::string &driveC, const std::string &winPath) {
    std::string prefix, path = winPath;
    if (!path.empty() && path[0] == '!') prefix += '!', path.erase(0, 1);
    if (path.compare(0, 4, "\\??\\") == 0) prefix += "\\??\\", path.erase(0, 4);
    if (path.size() < 3 || std::toupper(static_cast<unsigned char>(path[0])) != 'C' || path[1] != ':' ||
        path[2] != '\\')
        return winPath;
    std::string out = path.substr(0, 2);
    fs::path dir = driveC;
    for (const std::string &component : Split(path.substr(3), '\\')) {
        const std::string resolved = component.empty() ? component : ResolveComponent(dir, component);
        out += "\\" + resolved;
        const fs::path found = FindEntry(dir, resolved);
        dir = found.empty() ? dir / resolved : found;
    }
    return prefix + out;
}

std::string FilesSection(const std::string &driveC, const std::string &windowsDirName) {
    std::vector<std::string> lines;
    const fs::path root = driveC;
    auto add = [&](const fs::path &file, bool content) {
        std::string relative = Lower(fs::relative(file, root).generic_string());
        if (!content) {
            lines.push_back(relative + " - -");
            return;
        }
        const std::string bytes = ReadHostFile(file);
        char crc[16];
        const DWORD sum = Crc32(reinterpret_cast<const BYTE *>(bytes.data()), static_cast<DWORD>(bytes.size()));
        std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(sum));
        lines.push_back(relative + " " + std::to_string(bytes.size()) + " " + crc);
    };
    const fs::path programFiles = FindEntry(root, "Program Files");
    for (const fs::path &top : {programFiles.empty() ? fs::path() : FindEntry(programFiles, "Quenmark"),
                                FindEntry(root, "Quenmark")}) {
        if (top.empty()) continue;
        for (const auto &entry : fs::recursive_directory_iterator(top))
            if (entry.is_regular_file()) add(entry.path(), true);
    }
    const fs::path windows = FindEntry(root, windowsDirName);
    for (const char *name : {"WININIT.INI", "WININIT.BAK"}) {
        const fs::path file = windows.empty() ? fs::path() : FindEntry(windows, name);
        if (!file.empty()) add(file, false);
    }
    std::sort(lines.begin(), lines.end());
    std::string out = "# files\n";
    for (const std::string &line : lines) out += line + "\n";
    return out;
}

std::string WininitSection(const std::string &driveC, const std::string &windowsDirName,
                           const std::function<std::string(const std::string &)> &expand) {
    std::string out = "# wininit\n";
    const fs::path windows = FindEntry(driveC, windowsDirName);
    for (const char *name : {"WININIT.INI", "WININIT.BAK"}) {
        const fs::path file = windows.empty() ? fs::path() : FindEntry(windows, name);
        if (file.empty()) continue;
        out += "[" + Lower(name) + "]\n";
        for (std::string line : Split(ReadHostFile(file), '\n')) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            const size_t equals = line.find('=');
            if (equals != std::string::npos && line[0] != '[')
                line = expand(line.substr(0, equals)) + "=" + expand(line.substr(equals + 1));
            out += Lower(line) + "\n";
        }
    }
    return out;
}

std::string EscapeLogText(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '|': out += "\\x7c"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
    return out;
}

std::vector<Box> ReadBoxLog(const std::string &logText) {
    std::vector<Box> boxes;
    for (std::string line : Split(logText, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 4, "box|") != 0) continue;
        // The text is last and may hold anything; the fields before it do not.
        const size_t textAt = line.find("|text=");
        Box box;
        if (textAt != std::string::npos) box.text = line.substr(textAt + 6);
        for (const std::string &field : Split(line.substr(0, textAt), '|')) {
            const size_t equals = field.find('=');
            if (equals == std::string::npos) continue;
            const std::string key = field.substr(0, equals), value = field.substr(equals + 1);
            if (key == "caption") box.caption = value;
            else if (key == "owner") box.owned = value != "none";
            else if (key == "buttons") box.buttons = value;
            else if (key == "answer") box.answer = value;
        }
        boxes.push_back(box);
    }
    return boxes;
}

std::string BoxesSection(const std::vector<Box> &boxes, const std::string &caption) {
    std::string out = "# boxes\n";
    for (const Box &box : boxes) {
        out += box.buttons + "|" + (box.owned ? "dialog" : "none") + "|";
        if (box.caption != caption) out += "[" + box.caption + "] ";
        out += box.text + "|" + box.answer + "\n";
    }
    return out;
}

const std::vector<std::string> kTouchedKeys = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "HKEY_LOCAL_MACHINE\\Software\\Quenmark",
    "HKEY_CURRENT_USER\\Software\\Quenmark",
};
const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::string RegistrySection(const std::function<std::string(const std::string &)> &expand) {
    std::string out = "# registry\n";
    // Key names are case-insensitive and each side spells the keys it did
    // not make its own way (Wine's "Software", the sample's "SOFTWARE").
    for (const std::string &key : kTouchedKeys) {
        for (std::string line : Split(winsim::ExportRegText({key}), '\n')) {
            if (line == "REGEDIT4") continue;
            if (!line.empty() && line[0] == '[') line = Lower(line);
            out += line + "\n";
        }
    }
    out += "[" + Lower(std::string("HKEY_LOCAL_MACHINE\\") + kSessionManagerKey) + "]\n";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        out += "(no PendingFileRenameOperations)\n";
        return out;
    }
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        out += "(no PendingFileRenameOperations)\n";
        return out;
    }
    std::string data(size, '\0');
    RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                     reinterpret_cast<BYTE *>(&data[0]), &size);
    RegCloseKey(key);
    data.resize(size);
    std::vector<std::string> strings;
    size_t at = 0;
    while (at < data.size()) {
        size_t end = data.find('\0', at);
        if (end == std::string::npos) end = data.size();
        strings.push_back(data.substr(at, end - at));
        at = end + 1;
    }
    // The list ends at the first empty source; what follows is padding.
    out += "PendingFileRenameOperations (type " + std::to_string(type) + "):\n";
    for (size_t i = 0; i < strings.size() && !strings[i].empty(); i += 2) {
        const std::string target = i + 1 < strings.size() ? strings[i + 1] : std::string();
        out += "  " + Lower(expand(strings[i])) + " -> " + (target.empty() ? "-" : Lower(expand(target))) + "\n";
    }
    return out;
}

}  // namespace wfstate
