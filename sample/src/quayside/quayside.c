/* Tolvane Quayside: berth planning for a harbour office. The main program
   opens one window listing today's berths, which qsdock.dll allocates.
   QS_RELEASE is 1 for 3.2.a and 2 for 3.2.B. */
#include <windows.h>
#include <stdio.h>

#if QS_RELEASE >= 2
#define QS_TITLE "Tolvane Quayside 3.2.B"
#else
#define QS_TITLE "Tolvane Quayside 3.2.a"
#endif

typedef int(WINAPI* QsAllocateFn)(int vessel, int lengthMetres);

static const char* const kVessels[] = {"Marram", "Sealark", "Tern", "Whimbrel"};
static const int kLengths[] = {64, 112, 38, 151};

static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  static QsAllocateFn allocate;
  switch (message) {
    case WM_CREATE: {
      HMODULE dock = LoadLibraryA("qsdock.dll");
      if (dock) allocate = (QsAllocateFn)(void*)GetProcAddress(dock, "QsAllocateBerth@8");
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      char line[96];
      for (int i = 0; i < 4; ++i) {
        int berth = allocate ? allocate(i, kLengths[i]) : 0;
#if QS_RELEASE >= 2
        /* 3.2.B: a vessel without a berth says so instead of "berth 0". */
        int n = berth ? sprintf(line, "%-10s %4d m  berth %d", kVessels[i], kLengths[i], berth)
                      : sprintf(line, "%-10s %4d m  waiting", kVessels[i], kLengths[i]);
#else
        int n = sprintf(line, "%-10s %4d m  berth %d", kVessels[i], kLengths[i], berth);
#endif
        TextOutA(dc, 8, 8 + 18 * i, line, n);
      }
      EndPaint(window, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  WNDCLASSA wc = {0};
  MSG msg;
  HWND window;
  (void)previous;
  (void)commandLine;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(NULL, IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  wc.lpszClassName = "TolvaneQuaysideMain";
  if (!RegisterClassA(&wc)) return 1;
  window = CreateWindowA(wc.lpszClassName, QS_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                         400, 200, NULL, NULL, instance, NULL);
  if (!window) return 1;
  ShowWindow(window, show);
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return (int)msg.wParam;
}
