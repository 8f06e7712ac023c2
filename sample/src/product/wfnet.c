/* wfnet.dll: fetches tide tables from a harbour office's server. */
#include <windows.h>
#include <stdio.h>

#define WF_EXPORT __declspec(dllexport)

#if WF_RELEASE >= 3
static const char kUserAgent[] = "Wayfront/95.0.C";
static const int kRetries = 3;
#else
static const char kUserAgent[] = "Wayfront/95.0.b";
static const int kRetries = 1;
#endif

WF_EXPORT int WINAPI WfTideRequest(char* buffer, int size, const char* harbour, int day) {
  int n = snprintf(buffer, (size_t)size, "GET /tides/%s/%03d HTTP/1.0\r\nUser-Agent: %s\r\n\r\n", harbour, day,
                   kUserAgent);
  return n < size ? n : -1;
}

WF_EXPORT int WINAPI WfTideRetries(void) { return kRetries; }
