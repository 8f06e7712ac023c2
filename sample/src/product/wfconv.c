/* wfconv.dll: imports charts from older Wayfront formats. The patch leaves
   it alone. */
#include <windows.h>

#define WF_EXPORT __declspec(dllexport)

WF_EXPORT int WINAPI WfCanImport(const unsigned char* header, int size) {
  return size >= 4 && header[0] == 'W' && header[1] == 'F' && header[2] <= 3;
}
