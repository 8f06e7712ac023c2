/* qsdock.dll: allocates a berth to a vessel by its length. */
#include <windows.h>

#define QS_EXPORT __declspec(dllexport)

struct Berth {
  int number;
  int lengthMetres;
};

static const struct Berth kBerths[] = {
    {1, 80}, {2, 120}, {3, 45}, {4, 160},
#if QS_RELEASE >= 2
    {5, 200}, /* 3.2.B: the new deep-water berth */
#endif
};

/* The shortest free berth that takes the vessel; 0 when none does. */
QS_EXPORT int WINAPI QsAllocateBerth(int vessel, int lengthMetres) {
  static int taken[sizeof kBerths / sizeof kBerths[0]];
  int best = -1;
  (void)vessel;
  for (int i = 0; i < (int)(sizeof kBerths / sizeof kBerths[0]); ++i) {
#if QS_RELEASE >= 2
    /* 3.2.B: two metres of clearance at each end. */
    if (taken[i] || kBerths[i].lengthMetres < lengthMetres + 4) continue;
#else
    if (taken[i] || kBerths[i].lengthMetres < lengthMetres) continue;
#endif
    if (best < 0 || kBerths[i].lengthMetres < kBerths[best].lengthMetres) best = i;
  }
  if (best < 0) return 0;
  taken[best] = 1;
  return kBerths[best].number;
}
