/* wfspell.dll: checks place names against the gazetteer's word list. The
   patch replaces this file whole. */
#include <windows.h>
#include <string.h>

#define WF_EXPORT __declspec(dllexport)

static const char* const kWords[] = {
    "anchorage", "breakwater", "channel", "harbour", "jetty", "mooring", "quay", "wharf",
#if WF_RELEASE >= 3
    "buoy", "fairway", "lighthouse", "slipway",
#endif
};

WF_EXPORT int WINAPI WfIsKnownWord(const char* word) {
  for (unsigned i = 0; i < sizeof kWords / sizeof kWords[0]; ++i)
#if WF_RELEASE >= 3
    if (lstrcmpiA(kWords[i], word) == 0) return 1;
#else
    if (strcmp(kWords[i], word) == 0) return 1;
#endif
  return 0;
}
