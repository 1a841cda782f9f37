#include "common/core/LogRules.h"

#include <cwchar>

#include "common/core/PathRules.h"

namespace kav {

namespace {

// Zero-padded decimal of a clock field (fields are never negative).
std::wstring Pad(int Value, int Width) {
  std::wstring digits = std::to_wstring(Value < 0 ? 0 : Value);
  if (static_cast<int>(digits.size()) < Width) digits.insert(0, static_cast<size_t>(Width) - digits.size(), L'0');
  return digits;
}

} // namespace

std::wstring FormatLogLine(const TDateTimeParts& Time, const std::wstring& Text) {
  std::wstring line;
  line.reserve(26 + Text.size());
  line += Pad(Time.Year, 4) + L'/' + Pad(Time.Month, 2) + L'/' + Pad(Time.Day, 2) + L' ';
  line += Pad(Time.Hour, 2) + L':' + Pad(Time.Minute, 2) + L':' + Pad(Time.Second, 2) + L':' +
          Pad(Time.Millisecond, 3) + L' ';
  line += Text;
  line += L"\r\n";
  return line;
}

std::wstring FormatFileStamp(const TDateTimeParts& Time) {
  return L"_" + Pad(Time.Year, 4) + Pad(Time.Month, 2) + Pad(Time.Day, 2) + Pad(Time.Hour, 2) +
         Pad(Time.Minute, 2) + Pad(Time.Second, 2);
}

std::wstring BuildLogFileName(const std::wstring& LogFolder, const std::wstring& BaseName,
                              const std::wstring& Stamp, const std::wstring& Suffix) {
  return IncludeTrailingPathDelimiter(LogFolder) + BaseName + Stamp + Suffix + L".log";
}

bool ShouldPruneFile(const std::wstring& FileName, const std::wstring& Ext, int64_t CreatedMs,
                     int64_t NowMs, int32_t PreservationDays) {
  // A negative retention (hand-edited settings) keeps everything, like 0.
  if (PreservationDays <= 0) return false;
  if (!Ext.empty() && !SameTextAscii(ExtractFileExt(FileName), Ext)) return false;
  return NowMs - CreatedMs > static_cast<int64_t>(PreservationDays) * KMillisecondsPerDay;
}

} // namespace kav
