#include "settings/core/EnvSettingsRules.h"

#include <algorithm>
#include <utility>

#include "common/core/PathRules.h"

namespace kav {

const wchar_t KComPortNotSelected[] = L"選択してください";
const wchar_t KDuplicateHotKeyText[] = L"重複するホットキーの設定はできません。";

bool HotKeyFieldNeedsReset(THotKeyValue Shown) noexcept {
  const std::uint8_t key = HotKeyKeyCode(Shown);
  const std::uint8_t mods = HotKeyModifiersOf(Shown);
  if (key == VkImeProcessKey && mods == 0) return true;
  if (key == VkCancel || key == VkPause) return true;  // with or without modifiers
  return mods != 0 && key == 0;                       // modifiers alone
}

THotKeyValue HotKeyFieldExitValue(THotKeyValue Shown, THotKeyValue Hold) noexcept {
  return IsHotKeyPlaceholder(Shown) ? HotKeyCombination(Hold) : Shown;
}

void THotKeyFieldFallback::ProgramSet(THotKeyValue Value) noexcept {
  if (HotKeyModifiersOf(Value) != 0) FModifiers = HotKeyModifiersOf(Value);
}

void THotKeyFieldFallback::FocusGained(THotKeyValue Shown) noexcept {
  if (HotKeyModifiersOf(Shown) != 0) FModifiers = 0;
}

void THotKeyFieldFallback::ResetToPlaceholder(THotKeyValue Shown) noexcept {
  if (HotKeyModifiersOf(Shown) != 0) FModifiers = 0;
}

std::wstring HotKeyFieldFuncName(std::size_t Index) {
  if (Index == 0) return L"電源制御";
  if (Index == 1) return L"ブラックアウト";
  return L"入力" + std::to_wstring(Index - 1);
}

std::wstring HotKeyFieldLabel(std::size_t Index) { return HotKeyFieldFuncName(Index) + L"："; }

bool IsEnvSettingsChanged(std::int32_t ComPortIndexOld, std::int32_t ComPortIndexNew,
                          const std::array<bool, EnvCheckBoxCount>& CheckBoxes,
                          const std::array<bool, EnvCheckBoxCount>& Record,
                          std::span<const THotKeyValue> Fields, std::span<const THotKeyValue> OldValues,
                          std::size_t EntryCount, bool StorePending) {
  if (StorePending) return true;
  if (ComPortIndexOld != ComPortIndexNew) return true;
  if (CheckBoxes != Record) return true;
  const std::size_t n = BoundHotKeyCount(BoundHotKeyCount(EntryCount, Fields.size()), OldValues.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (HotKeyCombination(Fields[i]) != HotKeyCombination(OldValues[i])) return true;
  }
  return false;
}

bool IsDuplicateHotKey(std::span<const THotKeyValue> Fields, std::size_t EntryCount) {
  const std::size_t n = BoundHotKeyCount(EntryCount, Fields.size());
  for (std::size_t i = 0; i < n; ++i) {
    const THotKeyValue a = HotKeyCombination(Fields[i]);
    if (a == 0) continue;
    for (std::size_t j = i + 1; j < n; ++j) {
      if (a == HotKeyCombination(Fields[j])) return true;
    }
  }
  return false;
}

std::vector<THotKeyValue> DefaultFieldValues(std::size_t EntryCount, std::size_t FieldCount) {
  const std::size_t n =
      BoundHotKeyCount(BoundHotKeyCount(EntryCount, FieldCount), DefaultHotKeyValues.size());
  return std::vector<THotKeyValue>(DefaultHotKeyValues.begin(), DefaultHotKeyValues.begin() + n);
}

std::vector<THotKeyStoreItem> HotKeyStoreItems(std::span<const THotKeyValue> Fields) {
  std::vector<THotKeyStoreItem> items;
  items.reserve(Fields.size());
  for (std::size_t i = 0; i < Fields.size(); ++i) items.push_back({Fields[i], HotKeyFieldFuncName(i)});
  return items;
}

int ComPortNumber(const std::wstring& Port) {
  // Windows numbers ports up to 256; nine digits keep the arithmetic in range.
  if (Port.size() < 4 || Port.size() > 12 || !SameTextAscii(Port.substr(0, 3), L"COM") || Port[3] == L'0') return 0;
  int n = 0;
  for (std::size_t i = 3; i < Port.size(); ++i) {
    if (Port[i] < L'0' || Port[i] > L'9') return 0;
    n = n * 10 + (Port[i] - L'0');
  }
  return n;
}

std::vector<std::wstring> ComPortListItems(std::span<const std::wstring> PresentPorts, const std::wstring& StoredPort) {
  std::vector<std::wstring> items;
  items.reserve(ComPortListMax + 1 + PresentPorts.size() + 1);
  items.emplace_back(KComPortNotSelected);
  for (int n = 1; n <= ComPortListMax; ++n) items.push_back(L"COM" + std::to_wstring(n));

  std::vector<std::pair<int, std::wstring>> above;
  for (const auto& port : PresentPorts) {
    const int n = ComPortNumber(port);
    if (n > ComPortListMax) above.emplace_back(n, port);
  }
  std::stable_sort(above.begin(), above.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [n, port] : above) {
    if (FindComPortIndex(items, port) < 0) items.push_back(std::move(port));
  }
  if (!StoredPort.empty() && FindComPortIndex(items, StoredPort) < 0) items.push_back(StoredPort);
  return items;
}

std::int32_t FindComPortIndex(std::span<const std::wstring> Items, const std::wstring& Port) {
  if (Port.empty()) return -1;
  for (std::size_t i = 0; i < Items.size(); ++i) {
    if (SameTextAscii(Items[i], Port)) return static_cast<std::int32_t>(i);
  }
  return -1;
}

std::wstring ComPortToStore(std::int32_t SelectedIndex, const std::wstring& ListText, const std::wstring& StoredPort) {
  if (SelectedIndex < 0) return StoredPort;  // nothing chosen: nothing to change
  if (SelectedIndex == 0) return std::wstring();
  return ListText;
}

std::wstring ComPortSelectPromptText(const std::wstring& ModelName) {
  return ModelName + L"と接続しているCOMポートを選択してください。";
}

std::wstring ComPortTestSuccessText(const std::wstring& ModelName) {
  return ModelName + L"との通信テストに成功しました。";
}

std::wstring ComPortTestFailureText(const std::wstring& ModelName) {
  return ModelName + L"との通信テストに失敗しました。\r\n次の項目を確認してください。\r\n\r\n１．" + ModelName +
         L"の電源(ONにしてください)\r\n２．COMポートの番号\r\n３．" + ModelName + L"とのケーブル接続";
}

} // namespace kav
