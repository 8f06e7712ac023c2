// The sample machine's state as the tests compare it: the files of the
// install and shared directories, and the registry keys the patch touches,
// held against the sample's before and after.
#ifndef WF_TESTS_MACHINE_STATE_H
#define WF_TESTS_MACHINE_STATE_H

#include <map>
#include <string>
#include <vector>

// Windows path relative to C:\ -> bytes, for both products' install
// directories, the shared directory and everything under them.
using Tree = std::map<std::string, std::string>;

// The directories as a drive_c folder of the sample holds them.
Tree HostTree(const std::string &driveC);
// The same directories on the simulated machine.
Tree SimTree();

// How the files compare with the two versions.
struct Comparison {
    std::vector<std::string> damaged;  // neither version's bytes
    std::vector<std::string> extra;    // in neither version
    int oldFiles = 0;                  // as before (or, for a dropped file, still there)
    int newFiles = 0;
    bool AllNew() const { return damaged.empty() && extra.empty() && oldFiles == 0; }
};
Comparison Compare(const Tree &now, const Tree &before, const Tree &after);
// `tree` without the files of the patch directory.
Tree WithoutPatchDirectory(const Tree &tree);

// The registry keys the patch touches (SharedDLLs, the maker's usage keys),
// exported and put in a fixed order: keys and the values within each sorted,
// since an undo may put back a value or a key after others.
extern const std::vector<std::string> kTouchedKeys;
std::string TouchedRegistry();
// The same for a REGEDIT4 file, read on a scratch machine: the current
// machine is reset to `scratchRoot` on the way, so call it before setting
// up the machine a test works on.
std::string TouchedRegistryOf(const std::string &regFile, const std::string &scratchRoot);

// Names joined with ", ".
std::string Join(const std::vector<std::string> &items);

#endif
