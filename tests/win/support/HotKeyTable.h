#pragma once
// The ten entries of a first start's hot-key table, as the tests expect them.
#include <array>

#include "hotkeys/core/HotKeyValue.h"

namespace kav {
class THotKeyInfoList;
}

namespace kavtest {

// The functions' names in table order, as the settings file stores them.
inline constexpr std::array<const wchar_t*, kav::HotKeyCount> KFuncNames = {
    L"電源制御", L"ブラックアウト", L"入力1", L"入力2", L"入力3", L"入力4", L"入力5", L"入力6", L"入力7", L"入力8"};

// Adds the ten entries with their default keys, as a first start does.
void AddDefaultHotKeys(kav::THotKeyInfoList& List);

} // namespace kavtest
