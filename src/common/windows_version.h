// Which family of Windows the program runs on. The behaviours that differ
// between Windows 95 and NT branch on this one answer.
#ifndef WF_COMMON_WINDOWS_VERSION_H
#define WF_COMMON_WINDOWS_VERSION_H

// True on the NT family. The platform is asked once per process; every later
// call returns the stored answer. Any platform other than NT (Windows 95,
// and a failed query) takes the Windows 95 path.
int IsWindowsNT(void);

// Forgets the stored answer. Only the host tests, which run many simulated
// machines in one process, have a use for it.
void ForgetWindowsVersion(void);

#endif
