// The program's entry point in the Windows build. There is no C runtime to
// start us: the linker names this function as the image's entry, and it ends
// the process itself, always with exit code 0.
#include "app/run_patch.h"

extern "C" void __stdcall PatchEntry(void)
{
    RunPatch(GetModuleHandleA(NULL), NULL, NULL, SW_SHOWDEFAULT);
    ExitProcess(0);
}
