// Which family of Windows the program runs on. The behaviours that differ
// between Windows 95 and NT branch on this one answer.
#ifndef WF_COMMON_WINDOWS_VERSION_H
#define WF_COMMON_WINDOWS_VERSION_H

// True on the NT family. The platform is asked at every call: the answer
// cannot change while the program runs, and the few stages that need it
// ask once each. Any platform other than NT (Windows 95, and a failed
// query) takes the Windows 95 path.
int IsWindowsNT(void);

#endif
