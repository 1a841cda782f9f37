#include "app/core/LinkRefresh.h"

#include "common/core/PathRules.h"

namespace kav {

std::wstring PlainPortName(const std::wstring& Name) {
  // "\\.\COM5" and "\\?\COM5" name the same port as "COM5".
  if (Name.size() > 4 && Name[0] == L'\\' && Name[1] == L'\\' && (Name[2] == L'.' || Name[2] == L'?') && Name[3] == L'\\')
    return Name.substr(4);
  return Name;
}

bool SamePortName(const std::wstring& Stored, const std::wstring& Reported) {
  const std::wstring stored = PlainPortName(Stored);
  return !stored.empty() && SameTextAscii(stored, PlainPortName(Reported));
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
