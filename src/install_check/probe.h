#ifndef WF_INSTALL_CHECK_PROBE_H
#define WF_INSTALL_CHECK_PROBE_H

#include "platform/win32.h"

// Finds the installed product and the shared directory through the registry
// and proves the installation is the one the patch was built for. Fills both
// buffers (capacities count the terminator) and returns 1; on a refusal it
// has shown its own message and returns 0. A run cut off before its commit
// point is undone on the way (a refusal with message 202 when it cannot be);
// one that committed and waits for the restart is refused with 220.
int ProbeInstallation(LPSTR installDir, int installCapacity, LPSTR sharedDir, int sharedCapacity);

#endif
