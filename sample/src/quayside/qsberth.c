/* qsberth.dll: the harbour's berth names for printed plans. The patch
   replaces this file whole, stored uncompressed in the installer. */
#include <windows.h>

#define QS_EXPORT __declspec(dllexport)

static const char* const kNames[] = {
    "North Quay", "Fish Dock", "Ferry Steps", "Coal Wharf",
#if QS_RELEASE >= 2
    "Deep Water Berth",
#endif
};

QS_EXPORT const char* WINAPI QsBerthName(int number) {
  if (number < 1 || number > (int)(sizeof kNames / sizeof kNames[0])) return "";
  return kNames[number - 1];
}
