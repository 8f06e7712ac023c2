/* Tolvane Wayfront: the main program. It opens one window and hands the
   work to wfcore.dll. WF_RELEASE is 2 for 95.0.b and 3 for 95.0.C. */
#include <windows.h>
#include <stdio.h>

#if WF_RELEASE >= 3
#define WF_TITLE "Tolvane Wayfront 95.0.C"
#else
#define WF_TITLE "Tolvane Wayfront 95.0.b"
#endif

typedef int(WINAPI* WfCoreInitFn)(HWND, const char*);

static const char* const kRecentDefaults[] = {
    "Harbour plan.wfd", "Quay survey.wfd", "Tide table.wfd",
#if WF_RELEASE >= 3
    "Pilot notes.wfd",
#endif
};

static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      char line[96];
      int y = 8;
      for (unsigned i = 0; i < sizeof kRecentDefaults / sizeof kRecentDefaults[0]; ++i, y += 18) {
        int n = sprintf(line, "%u  %s", i + 1, kRecentDefaults[i]);
        TextOutA(dc, 8, y, line, n);
      }
      EndPaint(window, &ps);
      return 0;
    }
#if WF_RELEASE >= 3
    case WM_QUERYENDSESSION:
      /* 95.0.C: let Windows shut down while a document is open. */
      return TRUE;
#endif
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
  HMODULE core;
  (void)previous;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(NULL, IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  wc.lpszClassName = "TolvaneWayfrontMain";
  if (!RegisterClassA(&wc)) return 1;
  window = CreateWindowA(wc.lpszClassName, WF_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                         480, 320, NULL, NULL, instance, NULL);
  if (!window) return 1;
  core = LoadLibraryA("wfcore.dll");
  if (core) {
    WfCoreInitFn init = (WfCoreInitFn)(void*)GetProcAddress(core, "WfCoreInit@8");
    if (init && !init(window, commandLine)) {
      MessageBoxA(window, "The document could not be opened.", WF_TITLE, MB_OK | MB_ICONSTOP);
    }
  }
  ShowWindow(window, show);
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (core) FreeLibrary(core);
  return (int)msg.wParam;
}
