#include "common/core/ResourceReport.h"

namespace kav {

namespace {

std::wstring Item(const wchar_t* Name, uint64_t Start, uint64_t Exit) {
  const int64_t change = static_cast<int64_t>(Exit) - static_cast<int64_t>(Start);
  std::wstring text = Name;
  text += L" ";
  text += std::to_wstring(Exit);
  text += L" (";
  if (change >= 0) text += L"+";
  text += std::to_wstring(change);
  text += L")";
  return text;
}

} // namespace

std::wstring FormatResourceReport(const TResourceCounts& AtStart, const TResourceCounts& AtExit) {
  return L"終了時の未解放リソース: " + Item(L"GDI", AtStart.GdiObjects, AtExit.GdiObjects) + L", " +
         Item(L"USER", AtStart.UserObjects, AtExit.UserObjects) + L", " +
         Item(L"ハンドル", AtStart.KernelHandles, AtExit.KernelHandles) + L", " +
         Item(L"ヒープブロック", AtStart.HeapBlocks, AtExit.HeapBlocks) + L", " +
         Item(L"ヒープバイト", AtStart.HeapBytes, AtExit.HeapBytes);
}

} // namespace kav
