/* A Quenmark shared component. Each one is built from this source with its
   own QM_NAME and QM_SEED; QM_GEN counts its releases, so two builds of one
   component differ the way two releases do. */
#include <windows.h>

#define QM_EXPORT __declspec(dllexport)

static const char kComponent[] = QM_NAME;

/* Lookup table, different for each component and release. */
static const unsigned kTable[8] = {
    QM_SEED * 2654435761u,       QM_SEED * 40503u + QM_GEN,  QM_SEED ^ 0x5bd1e995u, QM_SEED * 97u,
    (QM_SEED << 7) + QM_GEN * 3, QM_SEED * 31u + 7u,         QM_GEN * 0x01000193u,  QM_SEED + QM_GEN,
};

QM_EXPORT const char* WINAPI QmComponentName(void) { return kComponent; }

QM_EXPORT int WINAPI QmComponentGeneration(void) { return QM_GEN; }

QM_EXPORT unsigned WINAPI QmHash(const unsigned char* bytes, int count) {
  unsigned h = kTable[QM_SEED & 7];
  for (int i = 0; i < count; ++i) {
#if QM_GEN >= 2
    h = (h ^ bytes[i]) * 16777619u + kTable[i & 7];
#else
    h = h * 31u + bytes[i];
#endif
  }
  return h;
}

#if QM_GEN >= 2
QM_EXPORT int WINAPI QmSupports(int feature) { return feature >= 0 && feature < QM_GEN * 4; }
#endif

#if QM_GEN >= 3
QM_EXPORT unsigned WINAPI QmMix(unsigned a, unsigned b) { return (a * kTable[1]) ^ (b + kTable[5]); }
#endif
