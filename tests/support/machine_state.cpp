#include "machine_state.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "common/contract.h"
#include "common/registry_keys.h"
#include "test_machine.h"
#include "winsim.h"

namespace fs = std::filesystem;

namespace {

const char *const kWatchedDirs[] = {"Program Files/Quenmark/Wayfront", "Program Files/Quenmark/Quayside",
                                    "Quenmark/Shared"};

std::string Windows(std::string path) {
    for (char &c : path) c = c == '/' ? '\\' : c;
    return path;
}

}  // namespace

const std::vector<std::string> kTouchedKeys = {"HKEY_LOCAL_MACHINE\\" SHARED_DLLS_KEY,
                                               "HKEY_LOCAL_MACHINE\\" SHARED_USAGE_KEY};

Tree HostTree(const std::string &driveC) {
    Tree tree;
    for (const char *dir : kWatchedDirs) {
        for (const auto &entry : fs::recursive_directory_iterator(fs::path(driveC) / dir)) {
            if (entry.is_regular_file())
                tree[Windows(fs::relative(entry.path(), driveC).string())] = HostFile(entry.path().string());
        }
    }
    return tree;
}

Tree SimTree() {
    Tree tree;
    for (const char *dir : kWatchedDirs) {
        const std::string winDir = Windows(std::string("C:\\") + dir);
        for (const std::string &name : winsim::ListTree(winDir)) {
            if (name.empty() || name.back() == '\\') continue;
            std::string bytes;
            if (winsim::ReadWholeFile(winDir + "\\" + name, &bytes)) tree[winDir.substr(3) + "\\" + name] = bytes;
        }
    }
    return tree;
}

Comparison Compare(const Tree &now, const Tree &before, const Tree &after) {
    Comparison result;
    std::set<std::string> names;
    for (const auto &entry : before) names.insert(entry.first);
    for (const auto &entry : after) names.insert(entry.first);
    for (const auto &entry : now)
        if (!names.count(entry.first)) result.extra.push_back(entry.first);
    for (const std::string &name : names) {
        const auto n = now.find(name), b = before.find(name), a = after.find(name);
        const bool present = n != now.end();
        const bool asBefore = present ? b != before.end() && b->second == n->second : b == before.end();
        const bool asAfter = present ? a != after.end() && a->second == n->second : a == after.end();
        if (asAfter)
            ++result.newFiles;  // a file both versions share counts as new
        else if (asBefore)
            ++result.oldFiles;
        else
            result.damaged.push_back(name);
    }
    return result;
}

Tree WithoutPatchDirectory(const Tree &tree) {
    Tree kept;
    for (const auto &entry : tree)
        if (entry.first.find("\\" PATCH_DIRECTORY_NAME "\\") == std::string::npos) kept.insert(entry);
    return kept;
}

std::string TouchedRegistry() {
    std::istringstream text(winsim::ExportRegText(kTouchedKeys));
    std::map<std::string, std::set<std::string>> sections;
    std::string line, section;
    while (std::getline(text, line)) {
        if (line.empty() || line == "REGEDIT4") continue;
        if (line[0] == '[') {
            std::string folded = line;
            std::transform(folded.begin(), folded.end(), folded.begin(), ::tolower);
            section = folded;
            sections[section];
        } else {
            sections[section].insert(line);
        }
    }
    std::string sorted;
    for (const auto &entry : sections) {
        sorted += entry.first + "\n";
        for (const std::string &value : entry.second) sorted += value + "\n";
    }
    return sorted;
}

std::string TouchedRegistryOf(const std::string &regFile, const std::string &scratchRoot) {
    fs::create_directories(scratchRoot);
    winsim::Reset(scratchRoot);
    std::string error;
    if (!winsim::ImportRegFile(regFile, &error)) return "cannot import " + regFile + ": " + error;
    const std::string text = TouchedRegistry();
    fs::remove_all(scratchRoot);
    return text;
}

std::string Join(const std::vector<std::string> &items) {
    std::string text;
    for (const std::string &item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}
