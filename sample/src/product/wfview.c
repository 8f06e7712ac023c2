/* wfview.dll: draws charts into a window. */
#include <windows.h>

#define WF_EXPORT __declspec(dllexport)

static const COLORREF kDepthColours[] = {
    RGB(224, 240, 255), RGB(176, 216, 248), RGB(128, 184, 232), RGB(72, 144, 208),
#if WF_RELEASE >= 3
    RGB(40, 104, 176), RGB(16, 64, 128),
#endif
};

WF_EXPORT COLORREF WINAPI WfDepthColour(int metres) {
  const int bands = (int)(sizeof kDepthColours / sizeof kDepthColours[0]);
  int band = metres / 10;
  if (band < 0) band = 0;
  if (band >= bands) band = bands - 1;
  return kDepthColours[band];
}

WF_EXPORT void WINAPI WfDrawScaleBar(HDC dc, int x, int y, int length) {
  MoveToEx(dc, x, y, NULL);
  LineTo(dc, x + length, y);
#if WF_RELEASE >= 3
  for (int tick = 0; tick <= 4; ++tick) {
    MoveToEx(dc, x + length * tick / 4, y - 3, NULL);
    LineTo(dc, x + length * tick / 4, y + 4);
  }
#else
  MoveToEx(dc, x, y - 3, NULL);
  LineTo(dc, x, y + 4);
  MoveToEx(dc, x + length, y - 3, NULL);
  LineTo(dc, x + length, y + 4);
#endif
}
