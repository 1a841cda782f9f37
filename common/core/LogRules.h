#pragma once
// Formatting of log lines and log-file names, and the decision which files a
// log clean-up removes. Portable: the caller supplies the clock readings.
#include <cstdint>
#include <string>

namespace kav {

// A local date and time as the clock gave it.
struct TDateTimeParts {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

// "yyyy/mm/dd hh:mm:ss:zzz " + text + "\r\n".
std::wstring FormatLogLine(const TDateTimeParts& Time, const std::wstring& Text);

// "_yyyymmddhhmmss", the stamp in log-file names.
std::wstring FormatFileStamp(const TDateTimeParts& Time);

// LogFolder + BaseName + Stamp + Suffix + ".log"
std::wstring BuildLogFileName(const std::wstring& LogFolder, const std::wstring& BaseName,
                              const std::wstring& Stamp, const std::wstring& Suffix);

// Milliseconds in one day of retention.
constexpr int64_t KMillisecondsPerDay = 24LL * 60 * 60 * 1000;

// Whether the clean-up deletes a file. FileName is the bare name; Ext the
// wanted extension with its dot (empty = every file), compared without case.
// Times are milliseconds on one clock. A retention of 0 or less keeps every
// file; otherwise a file goes when Now is later than Created + days.
bool ShouldPruneFile(const std::wstring& FileName, const std::wstring& Ext, int64_t CreatedMs,
                     int64_t NowMs, int32_t PreservationDays);

} // namespace kav
