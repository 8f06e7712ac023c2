// patch_twin: the host build of patch.exe. winsim cannot run a PE file, so
// it runs this program in its place, with the simulated current directory
// mapped to this process's real one. Same argument, same lines, same exit
// code as patch.exe.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "patch_apply.h"
#include "winsim.h"

namespace {

void PrintLine(LPCSTR line, void *) {
    std::fputs(line, stdout);
    std::fputs("\n", stdout);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        PrintLine("usage: patch.exe <patch data>", nullptr);
        return PATCH_EXIT_USAGE;
    }
    char here[4096];
    if (!getcwd(here, sizeof here)) {
        std::perror("patch_twin: getcwd");
        return PATCH_EXIT_BAD_DATA;
    }
    winsim::AttachToHostDirectory(here);
    const int exitCode = ApplyPatchData(argv[1], PrintLine, nullptr);
    std::fflush(stdout);
    return exitCode;
}
