// kav_probe: reads and operates the windows of another program in the same
// (Wine) desktop, for end-to-end tests and benchmarks. Prints one JSON
// object (UTF-8) on stdout.
//
//   kav_probe list   [SELECT] [--all]          windows with all their children
//   kav_probe click  SELECT (--text T | --id N) posts BM_CLICK to a button
//   kav_probe select SELECT --id N (--item T | --index I)   combo box choice
//   kav_probe check  SELECT (--text T | --id N) --state 0|1
//   kav_probe close  SELECT                    posts WM_CLOSE
//   kav_probe endsession SELECT                WM_QUERYENDSESSION, then WM_ENDSESSION
//                                              (ENDSESSION_CLOSEAPP), as Restart Manager sends
//   kav_probe tray                             taskbar notification area
//   kav_probe watch  SELECT --id N [--text T] [--timeout MS]
//                    prints {"ready":...}, then polls the control's text every
//                    millisecond and prints the Unix time at which it first
//                    differs from T (default: its text at the start)
//   kav_probe mem    --exe NAME                memory, CPU times, handle and GDI/USER
//                                              object counts of a process
//   kav_probe broadcast --event E [--port NAME]
//                    broadcasts a device or power notice to every top-level
//                    window, as Windows does: E = port-arrival, port-removal
//                    (a DEV_BROADCAST_PORT_W naming NAME), suspend,
//                    resume-automatic, resume-suspend; prints the times
//                    before and after the broadcast
//
// SELECT: any of --exe NAME (image file name), --class CLS, --title TEXT,
// --hwnd N. "list" without SELECT lists every top-level window; the other
// commands act on the first visible match (or the first match at all).
// Exit codes: 0 done, 1 bad command line, 2 no such window, 3 no such control.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <mmsystem.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// ---- JSON output -----------------------------------------------------------

std::string Utf8(const std::wstring& s) {
  if (s.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string Quote(const std::wstring& s) {
  std::string in = Utf8(s), out = "\"";
  for (unsigned char ch : in) {
    switch (ch) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (ch < 0x20) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", ch);
        out += buf;
      } else {
        out += static_cast<char>(ch);
      }
    }
  }
  return out + "\"";
}

std::string Num(long long v) { return std::to_string(v); }
std::string Bool(bool v) { return v ? "true" : "false"; }
std::string Rect(const RECT& r) {
  return "[" + Num(r.left) + "," + Num(r.top) + "," + Num(r.right) + "," + Num(r.bottom) + "]";
}
std::string Handle(HWND w) { return Num(static_cast<long long>(reinterpret_cast<INT_PTR>(w))); }

void Print(const std::string& json) {
  std::string line = json + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int Fail(int code, const std::string& what) {
  Print("{\"error\":" + Quote(std::wstring(what.begin(), what.end())) + "}");
  return code;
}

// ---- reading windows -------------------------------------------------------

constexpr UINT KTimeout = 1000;

// Text of a window of any process; a hung window gives what can be read
// without waiting.
std::wstring TextOf(HWND w) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, KTimeout, &len)) {
    wchar_t buf[512] = {};
    InternalGetWindowText(w, buf, 512);
    return buf;
  }
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG | SMTO_BLOCK, KTimeout, &got);
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

std::wstring ClassOf(HWND w) {
  wchar_t buf[256] = {};
  GetClassNameW(w, buf, 256);
  return buf;
}

LRESULT Ask(HWND w, UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK, KTimeout, &r)) return -1;
  return static_cast<LRESULT>(r);
}

std::wstring ExeOf(DWORD pid) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!p) return {};
  wchar_t buf[MAX_PATH * 2] = {};
  DWORD n = MAX_PATH * 2;
  std::wstring name;
  if (QueryFullProcessImageNameW(p, 0, buf, &n)) {
    name = buf;
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name = name.substr(slash + 1);
  }
  CloseHandle(p);
  return name;
}

bool IsClass(const std::wstring& cls, const wchar_t* name) { return _wcsicmp(cls.c_str(), name) == 0; }

std::string Describe(HWND w, bool topLevel) {
  const std::wstring cls = ClassOf(w);
  RECT r{}, c{};
  GetWindowRect(w, &r);
  GetClientRect(w, &c);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  const LONG_PTR style = GetWindowLongPtrW(w, GWL_STYLE);
  std::string j = "{\"hwnd\":" + Handle(w) + ",\"class\":" + Quote(cls) + ",\"text\":" + Quote(TextOf(w)) +
                  ",\"id\":" + Num(topLevel ? 0 : GetDlgCtrlID(w)) + ",\"rect\":" + Rect(r) + ",\"client\":[" +
                  Num(c.right) + "," + Num(c.bottom) + "]" + ",\"visible\":" + Bool(IsWindowVisible(w)) +
                  ",\"enabled\":" + Bool(IsWindowEnabled(w)) + ",\"style\":" + Num(static_cast<DWORD>(style)) +
                  ",\"exStyle\":" + Num(static_cast<DWORD>(GetWindowLongPtrW(w, GWL_EXSTYLE))) +
                  ",\"owner\":" + Handle(GetWindow(w, GW_OWNER)) + ",\"parent\":" + Handle(GetAncestor(w, GA_PARENT)) +
                  ",\"pid\":" + Num(pid);
  if (topLevel) j += ",\"exe\":" + Quote(ExeOf(pid));
  if (IsClass(cls, L"Button")) {
    const LONG_PTR type = style & BS_TYPEMASK;
    if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
        type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
      j += ",\"check\":" + Num(Ask(w, BM_GETCHECK));
  } else if (IsClass(cls, L"ComboBox")) {
    const LRESULT sel = Ask(w, CB_GETCURSEL);
    const LRESULT count = Ask(w, CB_GETCOUNT);
    std::string items = "[";
    std::wstring selText;
    for (LRESULT i = 0; i < count && i < 200; ++i) {
      LRESULT len = Ask(w, CB_GETLBTEXTLEN, static_cast<WPARAM>(i));
      std::wstring t(len > 0 ? static_cast<size_t>(len) + 1 : 1, L'\0');
      Ask(w, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(t.data()));
      t.resize(wcsnlen(t.c_str(), t.size()));
      if (i == sel) selText = t;
      items += (i ? "," : "") + Quote(t);
    }
    items += "]";
    j += ",\"sel\":" + Num(sel) + ",\"selText\":" + Quote(selText) + ",\"items\":" + items +
         ",\"dropped\":" + Bool(Ask(w, CB_GETDROPPEDSTATE) > 0);
  } else if (IsClass(cls, HOTKEY_CLASSW)) {
    j += ",\"hotkey\":" + Num(Ask(w, HKM_GETHOTKEY));
  } else if (IsClass(cls, WC_TABCONTROLW)) {
    j += ",\"sel\":" + Num(Ask(w, TCM_GETCURSEL)) + ",\"count\":" + Num(Ask(w, TCM_GETITEMCOUNT));
  }
  return j;
}

struct TChildList {
  std::vector<HWND> Windows;
};

BOOL CALLBACK CollectChild(HWND w, LPARAM p) {
  reinterpret_cast<TChildList*>(p)->Windows.push_back(w);
  return TRUE;
}

std::string DescribeTree(HWND w) {
  std::string j = Describe(w, true) + ",\"children\":[";
  TChildList children;
  EnumChildWindows(w, &CollectChild, reinterpret_cast<LPARAM>(&children));
  for (size_t i = 0; i < children.Windows.size(); ++i) j += (i ? "," : "") + Describe(children.Windows[i], false) + "}";
  return j + "]}";
}

// ---- command line and selection -------------------------------------------

struct TArgs {
  std::wstring Command;
  std::wstring Exe, Class, Title, Text, Item, Event, Port;
  HWND Hwnd = nullptr;
  bool HasHwnd = false, HasId = false, HasIndex = false, HasState = false, All = false, HasText = false;
  int Id = 0, Index = 0, State = 0, Timeout = 10000;
};

bool ParseArgs(int argc, wchar_t** argv, TArgs& a) {
  if (argc < 2) return false;
  a.Command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::wstring k = argv[i];
    auto next = [&](std::wstring& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    std::wstring v;
    if (k == L"--all") {
      a.All = true;
    } else if (!next(v)) {
      return false;
    } else if (k == L"--exe") {
      a.Exe = v;
    } else if (k == L"--class") {
      a.Class = v;
    } else if (k == L"--title") {
      a.Title = v;
    } else if (k == L"--text") {
      a.Text = v;
      a.HasText = true;
    } else if (k == L"--timeout") {
      a.Timeout = static_cast<int>(std::wcstol(v.c_str(), nullptr, 0));
    } else if (k == L"--item") {
      a.Item = v;
    } else if (k == L"--event") {
      a.Event = v;
    } else if (k == L"--port") {
      a.Port = v;
    } else if (k == L"--hwnd") {
      a.HasHwnd = true;
      a.Hwnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(v.c_str(), nullptr, 0)));
    } else if (k == L"--id") {
      a.HasId = true;
      a.Id = static_cast<int>(std::wcstol(v.c_str(), nullptr, 0));
    } else if (k == L"--index") {
      a.HasIndex = true;
      a.Index = static_cast<int>(std::wcstol(v.c_str(), nullptr, 0));
    } else if (k == L"--state") {
      a.HasState = true;
      a.State = static_cast<int>(std::wcstol(v.c_str(), nullptr, 0));
    } else {
      return false;
    }
  }
  return true;
}

struct TTopLevel {
  const TArgs* Args;
  std::vector<HWND> Windows;
};

bool Matches(HWND w, const TArgs& a) {
  if (a.HasHwnd && w != a.Hwnd) return false;
  if (!a.Class.empty() && !IsClass(ClassOf(w), a.Class.c_str())) return false;
  if (!a.Title.empty() && TextOf(w) != a.Title) return false;
  if (!a.Exe.empty()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (_wcsicmp(ExeOf(pid).c_str(), a.Exe.c_str()) != 0) return false;
  }
  return true;
}

BOOL CALLBACK CollectTopLevel(HWND w, LPARAM p) {
  auto* t = reinterpret_cast<TTopLevel*>(p);
  if (Matches(w, *t->Args)) t->Windows.push_back(w);
  return TRUE;
}

std::vector<HWND> FindTopLevel(const TArgs& a) {
  TTopLevel t{&a, {}};
  EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&t));
  return t.Windows;
}

HWND FindTarget(const TArgs& a) {
  std::vector<HWND> all = FindTopLevel(a);
  for (HWND w : all)
    if (IsWindowVisible(w)) return w;
  return all.empty() ? nullptr : all.front();
}

// A caption matches with or without its access-key marks: "はい" finds
// "はい(&Y)", "OK" finds "OK", "&Yes" finds "&Yes".
bool CaptionMatches(const std::wstring& caption, const std::wstring& wanted) {
  if (caption == wanted) return true;
  std::wstring plain;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == L'&') continue;
    plain += caption[i];
  }
  if (plain == wanted) return true;
  size_t paren = plain.rfind(L'(');
  return paren != std::wstring::npos && plain.back() == L')' && plain.substr(0, paren) == wanted;
}

HWND FindControl(HWND top, const TArgs& a) {
  TChildList children;
  EnumChildWindows(top, &CollectChild, reinterpret_cast<LPARAM>(&children));
  for (HWND c : children.Windows) {
    if (a.HasId && GetDlgCtrlID(c) != a.Id) continue;
    if (!a.Text.empty() && !CaptionMatches(TextOf(c), a.Text)) continue;
    return c;
  }
  return nullptr;
}

// ---- commands --------------------------------------------------------------

int CmdList(const TArgs& a) {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  std::string j = "{\"screen\":[" + Num(GetSystemMetrics(SM_CXSCREEN)) + "," + Num(GetSystemMetrics(SM_CYSCREEN)) +
                  "],\"workArea\":" + Rect(work) + ",\"metrics\":{\"cxsize\":" + Num(GetSystemMetrics(SM_CXSIZE)) +
                  ",\"cysize\":" + Num(GetSystemMetrics(SM_CYSIZE)) +
                  ",\"cxfixedframe\":" + Num(GetSystemMetrics(SM_CXFIXEDFRAME)) +
                  ",\"cyfixedframe\":" + Num(GetSystemMetrics(SM_CYFIXEDFRAME)) +
                  ",\"cycaption\":" + Num(GetSystemMetrics(SM_CYCAPTION)) + "}";
  HWND fg = GetForegroundWindow();
  j += ",\"foreground\":" + Handle(fg) + ",\"windows\":[";
  std::vector<HWND> wins = FindTopLevel(a);
  bool first = true;
  for (HWND w : wins) {
    if (!a.All && a.Exe.empty() && a.Class.empty() && a.Title.empty() && !a.HasHwnd && !IsWindowVisible(w)) continue;
    j += (first ? "" : ",") + DescribeTree(w);
    first = false;
  }
  Print(j + "]}");
  return 0;
}

int CmdClick(const TArgs& a) {
  HWND top = FindTarget(a);
  if (!top) return Fail(2, "window not found");
  HWND c = FindControl(top, a);
  if (!c) return Fail(3, "control not found");
  // Posted, not sent: the click may open a modal box that would block us.
  PostMessageW(c, BM_CLICK, 0, 0);
  Print("{\"clicked\":" + Handle(c) + ",\"text\":" + Quote(TextOf(c)) + "}");
  return 0;
}

int CmdSelect(const TArgs& a) {
  HWND top = FindTarget(a);
  if (!top) return Fail(2, "window not found");
  HWND c = FindControl(top, a);
  if (!c || !IsClass(ClassOf(c), L"ComboBox")) return Fail(3, "combo box not found");
  LRESULT index = a.HasIndex ? a.Index : -1;
  if (!a.HasIndex) {
    const LRESULT count = Ask(c, CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
      LRESULT len = Ask(c, CB_GETLBTEXTLEN, static_cast<WPARAM>(i));
      std::wstring t(len > 0 ? static_cast<size_t>(len) + 1 : 1, L'\0');
      Ask(c, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(t.data()));
      t.resize(wcsnlen(t.c_str(), t.size()));
      if (t == a.Item) {
        index = i;
        break;
      }
    }
    if (index < 0) return Fail(3, "item not found");
  }
  Ask(c, CB_SETCURSEL, static_cast<WPARAM>(index));
  // CB_SETCURSEL does not notify; the owner learns of the choice as from a person.
  PostMessageW(GetParent(c), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), CBN_SELCHANGE), reinterpret_cast<LPARAM>(c));
  PostMessageW(GetParent(c), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), CBN_SELENDOK), reinterpret_cast<LPARAM>(c));
  Print("{\"selected\":" + Num(index) + "}");
  return 0;
}

int CmdCheck(const TArgs& a) {
  if (!a.HasState) return Fail(1, "--state missing");
  HWND top = FindTarget(a);
  if (!top) return Fail(2, "window not found");
  HWND c = FindControl(top, a);
  if (!c) return Fail(3, "control not found");
  const LRESULT now = Ask(c, BM_GETCHECK);
  if ((now == BST_CHECKED) != (a.State != 0)) PostMessageW(c, BM_CLICK, 0, 0);
  Print("{\"was\":" + Num(now) + "}");
  return 0;
}

int CmdClose(const TArgs& a) {
  HWND top = FindTarget(a);
  if (!top) return Fail(2, "window not found");
  PostMessageW(top, WM_CLOSE, 0, 0);
  Print("{\"closed\":" + Handle(top) + "}");
  return 0;
}

// What Restart Manager and installers send to close a program while Windows
// keeps running: the session-end query, then the session end, both flagged
// ENDSESSION_CLOSEAPP, to the one window. Prints both results (the second is
// 0 also when the program ended while answering).
int CmdEndSession(const TArgs& a) {
  HWND top = FindTarget(a);
  if (!top) return Fail(2, "window not found");
  DWORD_PTR query = 0, end = 0;
  SendMessageTimeoutW(top, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, 10000, &query);
  SendMessageTimeoutW(top, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, 10000, &end);
  Print("{\"query\":" + Num(static_cast<long long>(query)) + ",\"end\":" + Num(static_cast<long long>(end)) + "}");
  return 0;
}

// Wine's taskbar draws the notification icons itself, right-aligned at the
// right end of the taskbar, one slot per icon; it has no window per icon.
int CmdTray() {
  HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (!tray) return Fail(2, "no taskbar");
  RECT r{};
  GetWindowRect(tray, &r);
  const int cx = GetSystemMetrics(SM_CXSMICON) + 4;
  const int cy = GetSystemMetrics(SM_CYSMICON) + 4;
  std::string slots = "[";
  for (int i = 0; i < 4; ++i) {
    RECT s{r.right - cx * (i + 1), r.top + ((r.bottom - r.top) - cy) / 2, r.right - cx * i, 0};
    s.bottom = s.top + cy;
    slots += (i ? "," : "") + Rect(s);
  }
  Print("{\"tray\":" + Rect(r) + ",\"visible\":" + Bool(IsWindowVisible(tray)) + ",\"slots\":" + slots + "]}");
  return 0;
}

double UnixNow() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  ULARGE_INTEGER u{{ft.dwLowDateTime, ft.dwHighDateTime}};
  return static_cast<double>(u.QuadPart) / 1e7 - 11644473600.0;
}

std::string Seconds(double t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", t);
  return buf;
}

int CmdWatch(const TArgs& a) {
  HWND top = FindTarget(a);
  if (!top) return Fail(2, "window not found");
  TArgs byId = a;
  byId.Text.clear();
  HWND c = FindControl(top, byId);
  if (!c) return Fail(3, "control not found");
  const std::wstring from = a.HasText ? a.Text : TextOf(c);
  Print("{\"ready\":" + Seconds(UnixNow()) + ",\"text\":" + Quote(from) + "}");
  timeBeginPeriod(1);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(a.Timeout);
  int code = 4;
  while (GetTickCount64() < deadline) {
    const std::wstring now = TextOf(c);
    if (now != from) {
      Print("{\"changed\":" + Seconds(UnixNow()) + ",\"text\":" + Quote(now) + "}");
      code = 0;
      break;
    }
    Sleep(1);
  }
  timeEndPeriod(1);
  if (code) Print("{\"timeout\":true}");
  return code;
}

// Handles the system lists for a process (what Wine keeps in its server;
// Wine's GetProcessHandleCount answers 0). -1 when the list cannot be read.
long long SystemHandleCount(DWORD pid) {
  struct TEntry {
    ULONG OwnerPid;
    BYTE ObjectType, Flags;
    USHORT Value;
    PVOID Object;
    ULONG Access;
  };
  struct TList {
    ULONG Count;
    TEntry Entries[1];
  };
  using TQuery = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<TQuery>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  constexpr ULONG KSystemHandleInformation = 16;
  constexpr LONG KInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<BYTE> buf(1 << 16);
  LONG status = 0;
  for (int tries = 0; tries < 12; ++tries) {
    ULONG needed = 0;
    status = query(KSystemHandleInformation, buf.data(), static_cast<ULONG>(buf.size()), &needed);
    if (status != KInfoLengthMismatch) break;
    buf.resize(std::max<size_t>(buf.size() * 2, needed + 4096));
  }
  if (status != 0) return -1;
  const auto* list = reinterpret_cast<const TList*>(buf.data());
  long long n = 0;
  for (ULONG i = 0; i < list->Count; ++i)
    if (list->Entries[i].OwnerPid == pid) ++n;
  return n;
}

int CmdMem(const TArgs& a) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return Fail(2, "no process list");
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof pe;
  DWORD pid = 0;
  for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
    if (_wcsicmp(pe.szExeFile, a.Exe.c_str()) == 0) pid = pe.th32ProcessID;
  CloseHandle(snap);
  if (!pid) return Fail(2, "process not found");
  HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!p) return Fail(2, "cannot open process");
  PROCESS_MEMORY_COUNTERS_EX m{};
  m.cb = sizeof m;
  GetProcessMemoryInfo(p, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m);
  FILETIME created, exited, kernel, user;
  GetProcessTimes(p, &created, &exited, &kernel, &user);
  DWORD handles = 0;
  GetProcessHandleCount(p, &handles);
  const DWORD gdi = GetGuiResources(p, GR_GDIOBJECTS);
  const DWORD userObjects = GetGuiResources(p, GR_USEROBJECTS);
  auto ms = [](const FILETIME& f) {
    return static_cast<long long>((static_cast<ULONGLONG>(f.dwHighDateTime) << 32 | f.dwLowDateTime) / 10000);
  };
  CloseHandle(p);
  Print("{\"pid\":" + Num(pid) + ",\"workingSet\":" + Num(static_cast<long long>(m.WorkingSetSize)) +
        ",\"privateUsage\":" + Num(static_cast<long long>(m.PrivateUsage)) +
        ",\"pagefileUsage\":" + Num(static_cast<long long>(m.PagefileUsage)) + ",\"kernelMs\":" + Num(ms(kernel)) +
        ",\"userMs\":" + Num(ms(user)) + ",\"handles\":" + Num(handles) + ",\"gdiObjects\":" + Num(gdi) +
        ",\"userObjects\":" + Num(userObjects) + ",\"systemHandles\":" + Num(SystemHandleCount(pid)) + "}");
  return 0;
}

int CmdBroadcast(const TArgs& a) {
  UINT msg = WM_POWERBROADCAST;
  WPARAM event = 0;
  std::vector<BYTE> notice;
  if (a.Event == L"port-arrival" || a.Event == L"port-removal") {
    if (a.Port.empty()) return Fail(1, "--port missing");
    // As Windows fills it: the size covers the name and its terminator.
    const size_t bytes = (a.Port.size() + 1) * sizeof(wchar_t);
    notice.assign(offsetof(DEV_BROADCAST_PORT_W, dbcp_name) + bytes, 0);
    auto* port = reinterpret_cast<DEV_BROADCAST_PORT_W*>(notice.data());
    port->dbcp_size = static_cast<DWORD>(notice.size());
    port->dbcp_devicetype = DBT_DEVTYP_PORT;
    std::memcpy(port->dbcp_name, a.Port.c_str(), bytes);
    msg = WM_DEVICECHANGE;
    event = a.Event == L"port-arrival" ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
  } else if (a.Event == L"suspend") {
    event = PBT_APMSUSPEND;
  } else if (a.Event == L"resume-automatic") {
    event = PBT_APMRESUMEAUTOMATIC;
  } else if (a.Event == L"resume-suspend") {
    event = PBT_APMRESUMESUSPEND;
  } else {
    return Fail(1, "unknown --event");
  }
  DWORD recipients = BSM_APPLICATIONS;
  // BSF_QUERY sends to each window in turn; a posted broadcast would lose
  // the structure (Wine drops posted messages that carry a pointer).
  const double sent = UnixNow();
  const long result = BroadcastSystemMessageW(BSF_QUERY, &recipients, msg, event,
                                              notice.empty() ? 0 : reinterpret_cast<LPARAM>(notice.data()));
  const double done = UnixNow();
  Print("{\"result\":" + Num(result) + ",\"sent\":" + Seconds(sent) + ",\"done\":" + Seconds(done) + "}");
  return result > 0 ? 0 : 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  TArgs a;
  if (!ParseArgs(argc, argv, a)) {
    std::fputs("usage: kav_probe list|click|select|check|close|endsession|tray|watch|mem|broadcast [--exe N] [--class C] [--title T]"
               " [--hwnd H] [--text T] [--id N] [--item T] [--index I] [--state 0|1] [--timeout MS] [--all]"
               " [--event E] [--port NAME]\n",
               stderr);
    return 1;
  }
  if (a.Command == L"list") return CmdList(a);
  if (a.Command == L"click") return CmdClick(a);
  if (a.Command == L"select") return CmdSelect(a);
  if (a.Command == L"check") return CmdCheck(a);
  if (a.Command == L"close") return CmdClose(a);
  if (a.Command == L"endsession") return CmdEndSession(a);
  if (a.Command == L"tray") return CmdTray();
  if (a.Command == L"watch") return CmdWatch(a);
  if (a.Command == L"mem") return CmdMem(a);
  if (a.Command == L"broadcast") return CmdBroadcast(a);
  return Fail(1, "unknown command");
}
