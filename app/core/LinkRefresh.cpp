#include "app/core/LinkRefresh.h"

#include <algorithm>

namespace kav {

std::wstring PlainPortName(const std::wstring& Name) {
  std::wstring s = Name;
  // "\\.\COM5" and "\\?\COM5" name the same port as "COM5".
  if (s.size() > 4 && s[0] == L'\\' && s[1] == L'\\' && (s[2] == L'.' || s[2] == L'?') && s[3] == L'\\') s.erase(0, 4);
  std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; });
  return s;
}

bool SamePortName(const std::wstring& Stored, const std::wstring& Reported) {
  const std::wstring stored = PlainPortName(Stored);
  return !stored.empty() && stored == PlainPortName(Reported);
}

bool TLinkRefreshPlan::Ask(TLinkRefresh What) noexcept {
  const bool newly = FPending == TLinkRefresh::None;
  // A reopen covers a conditional open; the other way round it would not.
  if (FPending != TLinkRefresh::Reopen) FPending = What;
  return newly;
}

bool TLinkRefreshPlan::ResumedAutomatic() noexcept {
  FResumeAnswered = true;
  return Ask(TLinkRefresh::Reopen);
}

bool TLinkRefreshPlan::ResumedByUser() noexcept {
  if (FResumeAnswered) {
    // The second half of the pair: the automatic notice has asked already.
    FResumeAnswered = false;
    return false;
  }
  return Ask(TLinkRefresh::Reopen);
}

TLinkRefresh TLinkRefreshPlan::Take() noexcept {
  const TLinkRefresh what = FPending;
  FPending = TLinkRefresh::None;
  return what;
}

} // namespace kav
