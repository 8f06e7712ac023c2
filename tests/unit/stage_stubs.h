// Stand-ins for the stages, so the driver's tests decide which stage fails
// and see the order in which they ran and what each was given.
#ifndef WF_TESTS_STAGE_STUBS_H
#define WF_TESTS_STAGE_STUBS_H

#include <string>
#include <vector>

#include "platform/win32.h"

struct StageScript {
    // What the probe finds; an empty failure message id means it succeeds.
    std::string installDir = "C:\\Wayfront";
    std::string sharedDir = "C:\\Quenmark";
    UINT probeMessage = 0;
    // The stage that fails ("free space", "extract", ...), or empty.
    std::string failing;
    // A file the failing stage leaves in the current directory, or empty.
    std::string leftBehind;

    // What the stubs saw.
    std::vector<std::string> order;
    std::string currentDirAtPatcher;
    std::string patchDirSeen;
    DWORD requiredBytes = 0;
    UINT programId = 0, parameterId = 0;
};

StageScript &Stages();

#endif
