/* wfprint.dll: page layout for printed charts. */
#include <windows.h>

#define WF_EXPORT __declspec(dllexport)

struct PaperSize {
  const char* name;
  int widthMm, heightMm;
};

static const struct PaperSize kPapers[] = {
    {"Letter", 216, 279}, {"Legal", 216, 356}, {"A4", 210, 297},
#if WF_RELEASE >= 3
    {"A3", 297, 420}, {"Tabloid", 279, 432},
#endif
};

WF_EXPORT int WINAPI WfPaperCount(void) { return (int)(sizeof kPapers / sizeof kPapers[0]); }

WF_EXPORT const char* WINAPI WfPaperName(int index) {
  return index >= 0 && index < WfPaperCount() ? kPapers[index].name : "";
}

WF_EXPORT int WINAPI WfPrintableWidth(int index, int marginMm) {
  if (index < 0 || index >= WfPaperCount()) return 0;
#if WF_RELEASE >= 3
  if (2 * marginMm >= kPapers[index].widthMm) return 0;
#endif
  return kPapers[index].widthMm - 2 * marginMm;
}
