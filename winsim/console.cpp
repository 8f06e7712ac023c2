// A console program on winsim: the host twins of the Windows console
// programs (patch_twin for patch.exe) run on a machine whose drive C: is the
// real folder they were started in, so that a process started by
// ShellExecuteExA sees the simulated current directory's files as its own.
#include "internal.h"

#include <stdlib.h>

#include <filesystem>

namespace winsim {

void AttachToHostDirectory(const std::string &hostDir) {
    // Reset() maps C: to a folder it creates under its root; give it a
    // scratch root, then map C: onto hostDir itself and drop the scratch.
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string scratch = (fs::temp_directory_path(ec) / "winsim-attach-XXXXXX").string();
    const bool made = mkdtemp(&scratch[0]) != nullptr;
    Reset(made ? scratch : hostDir);
    MapDrive('C', hostDir);
    if (made) fs::remove_all(scratch, ec);
}

}  // namespace winsim
