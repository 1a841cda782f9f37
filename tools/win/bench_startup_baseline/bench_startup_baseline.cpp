// kav_bench_startup_baseline: a window with eight Tahoma labels and a tray
// icon, then it ends. Run under Wine with WINEDEBUG=+timestamp,+loaddll,+systray
// it gives the time from the first DLL load to Shell_NotifyIcon(NIM_ADD) that
// any such program pays, to compare the real program's figure with. With the
// argument "stay" it keeps running (for the memory baseline) until ended.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR cmdLine, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = L"KavBenchBaseline";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  RegisterClassW(&wc);
  HWND wnd = CreateWindowExW(0, wc.lpszClassName, L"baseline", WS_CAPTION | WS_SYSMENU, 0, 0, 220, 125, nullptr,
                             nullptr, instance, nullptr);
  LOGFONTW lf{};
  lf.lfHeight = -12;
  lstrcpyW(lf.lfFaceName, L"Tahoma");
  HFONT font = CreateFontIndirectW(&lf);
  for (int i = 0; i < 8; ++i) {
    HWND label = CreateWindowW(L"STATIC", L"ラベル", WS_CHILD | WS_VISIBLE, 25 + (i % 2) * 130, 10 + (i / 2) * 20, 120,
                               14, wnd, nullptr, instance, nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof nid;
  nid.hWnd = wnd;
  nid.uID = 1;
  nid.uFlags = NIF_ICON | NIF_TIP;
  nid.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  lstrcpyW(nid.szTip, L"baseline");
  Shell_NotifyIconW(NIM_ADD, &nid);
  if (cmdLine && wcsstr(cmdLine, L"stay")) {
    ShowWindow(wnd, SW_SHOW);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  }
  Shell_NotifyIconW(NIM_DELETE, &nid);
  DestroyWindow(wnd);
  DeleteObject(font);
  return 0;
}
