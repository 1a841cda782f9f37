#pragma once
// Event-log records with their log-file line, and the command-line switches.
#include <cstdint>
#include <string>
#include <vector>

#include "common/core/ResourceReport.h"

namespace kav {

// Event types of WriteEventLog (EVENTLOG_ERROR_TYPE etc.).
inline constexpr uint16_t KEventError = 1;
inline constexpr uint16_t KEventWarning = 2;
inline constexpr uint16_t KEventInformation = 4;

// The insertion string of every event record: "KOVAイベントログ：" + Text.
std::wstring FormatEventLogText(const std::wstring& Text);

// Writes one Application event record under the source ExeBaseName (one
// insertion string, see FormatEventLogText; failures are silent), then the
// plain Text as one line of the log file (TFileOperation::WriteLog, which may
// throw EFileOperationError; the event record is written by then).
void WriteEventLog(const std::wstring& Text, uint16_t EventType, uint16_t Category,
                   uint32_t EventId);

// The process's arguments after the program path, split as Windows splits them.
std::vector<std::wstring> CommandLineArguments();

// Scans the process's command line: "/debug" (any case) switches on the
// report of unreleased resources at exit, "/nonio" is ignored, "/HANDLE"
// takes the next argument. Returns the handle text (the last plain argument).
std::wstring ParseCommandLine();

// Whether "/debug" was given to ParseCommandLine.
bool IsDebugReportEnabled();

// What the process holds now (GDI and USER objects, kernel handles, busy
// blocks and bytes of the process heap).
TResourceCounts ReadResourceCounts();

// The "/debug" report text: counts now against those at ParseCommandLine.
// The report itself goes to the debugger output at process exit (never into
// the log file).
std::wstring BuildResourceReport();

} // namespace kav
