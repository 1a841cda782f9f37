#include "common/win/KCL_EventLog.h"

#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdlib>
#include <vector>

#include "common/core/CommandLineRules.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_FileOperation.h"
#include "common/win/Handles.h"

namespace kav {

namespace {

bool GDebugReport = false;
TResourceCounts GCountsAtStart;

void CountHeap(HANDLE Heap, TResourceCounts& Counts) {
  if (!HeapLock(Heap)) return;
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(Heap, &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
      ++Counts.HeapBlocks;
      Counts.HeapBytes += entry.cbData;
    }
  }
  HeapUnlock(Heap);
}

void WriteResourceReportAtExit() {
  try {
    // To the debugger only: the run's log file holds the program's own lines.
    OutputDebugStringW((BuildResourceReport() + L"\n").c_str());
  } catch (...) {
    // Nothing can be reported this late.
  }
}

} // namespace

std::wstring FormatEventLogText(const std::wstring& Text) { return L"KOVAイベントログ：" + Text; }

void WriteEventLog(const std::wstring& Text, uint16_t EventType, uint16_t Category, uint32_t EventId) {
  {
    const TEventSource source(RegisterEventSourceW(nullptr, ExeBaseName.c_str()));
    if (source) {
      const std::wstring message = FormatEventLogText(Text);
      const wchar_t* strings[1] = {message.c_str()};
      ReportEventW(source.Get(), EventType, Category, EventId, nullptr, 1, 0, strings, nullptr);
    }
  }
  TFileOperation::WriteLog(Text);
}

std::vector<std::wstring> CommandLineArguments() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  const TLocalMemory owner(argv);
  std::vector<std::wstring> args;
  if (argv == nullptr) return args;
  for (int i = 1; i < count; ++i) args.emplace_back(argv[i]);
  return args;
}

std::wstring ParseCommandLine() {
  const TCommandLineSwitches switches = ScanCommandLine(CommandLineArguments());
  if (switches.Debug && !GDebugReport) {
    GDebugReport = true;
    GCountsAtStart = ReadResourceCounts();
    std::atexit(WriteResourceReportAtExit);
  }
  return switches.Handle;
}

bool IsDebugReportEnabled() { return GDebugReport; }

TResourceCounts ReadResourceCounts() {
  TResourceCounts counts;
  const HANDLE process = GetCurrentProcess();
  counts.GdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
  counts.UserObjects = GetGuiResources(process, GR_USEROBJECTS);
  DWORD handles = 0;
  if (GetProcessHandleCount(process, &handles)) counts.KernelHandles = handles;
  std::vector<HANDLE> heaps(16);
  DWORD total = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (total > heaps.size()) {
    heaps.resize(total);
    total = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  }
  for (DWORD i = 0; i < total && i < heaps.size(); ++i) CountHeap(heaps[i], counts);
  return counts;
}

std::wstring BuildResourceReport() { return FormatResourceReport(GCountsAtStart, ReadResourceCounts()); }

} // namespace kav
