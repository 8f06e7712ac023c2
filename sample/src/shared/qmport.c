/* qmport.vxd: the serial-port helper that talks to a chart plotter. Shipped
   as a PE file with a version resource; the device interface is a table of
   service entry points. */
#include <windows.h>

#define QM_EXPORT __declspec(dllexport)

typedef unsigned(WINAPI* Service)(unsigned);

static unsigned WINAPI GetVersionService(unsigned unused) {
  (void)unused;
  return 0x0400 + QM_GEN;
}
static unsigned WINAPI SetBaudService(unsigned baud) { return baud == 4800 || baud == 9600 || baud == 19200; }
#if QM_GEN >= 2
static unsigned WINAPI FlushService(unsigned port) { return port < 4; }
#endif

QM_EXPORT const Service QmPortServices[] = {
    GetVersionService, SetBaudService,
#if QM_GEN >= 2
    FlushService,
#endif
};
