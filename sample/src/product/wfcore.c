/* wfcore.dll: documents, their chart grid and the undo list. */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#define WF_EXPORT __declspec(dllexport)

#if WF_RELEASE >= 3
#define UNDO_DEPTH 64
#else
#define UNDO_DEPTH 16
#endif

static int undo_ring[UNDO_DEPTH];
static int undo_top;

/* Grid spacing in tenths of a nautical mile, per zoom level. */
static const short kGridSpacing[] = {1, 2, 5, 10, 20, 50, 100,
#if WF_RELEASE >= 3
                                     200, 500,
#endif
};

WF_EXPORT int WINAPI WfCoreInit(HWND owner, const char* commandLine) {
  (void)owner;
  undo_top = 0;
  return commandLine == NULL || strlen(commandLine) < MAX_PATH;
}

WF_EXPORT int WINAPI WfGridSpacing(int zoom) {
  const int levels = (int)(sizeof kGridSpacing / sizeof kGridSpacing[0]);
#if WF_RELEASE >= 3
  if (zoom < 0) zoom = 0; /* 95.0.b read before the table for negative zooms */
#endif
  if (zoom >= levels) zoom = levels - 1;
  return kGridSpacing[zoom];
}

WF_EXPORT void WINAPI WfPushUndo(int action) {
  undo_ring[undo_top % UNDO_DEPTH] = action;
  ++undo_top;
}

WF_EXPORT int WINAPI WfPopUndo(void) {
  if (undo_top == 0) return -1;
  --undo_top;
  return undo_ring[undo_top % UNDO_DEPTH];
}

WF_EXPORT int WINAPI WfChartDistance(int x1, int y1, int x2, int y2) {
  int dx = abs(x2 - x1), dy = abs(y2 - y1);
#if WF_RELEASE >= 3
  return dx > dy ? dx + dy * 3 / 8 : dy + dx * 3 / 8; /* closer to the true distance */
#else
  return dx + dy;
#endif
}
