#pragma once
// The hot-key table: ten key combinations, each bound to one function of the
// switcher by its position (0 power, 1 blackout, 2..9 inputs 1..8). The table
// loads itself from the settings file when created, saves itself when
// destroyed, and registers its combinations for one window.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hotkeys/core/HotKeyValue.h"
#include "hotkeys/win/GlobalAtom.h"

namespace kav {

// One entry of the table. Created only by THotKeyInfoList::AddItem.
class THotKeyInfo {
public:
  THotKeyInfo() = default;
  // Still registered or holding its atom (the owner forgot to unregister):
  // both are given back here rather than leaked.
  ~THotKeyInfo();
  THotKeyInfo(const THotKeyInfo&) = delete;
  THotKeyInfo& operator=(const THotKeyInfo&) = delete;

  // Current combination; 0 = none.
  THotKeyValue HotKey() const noexcept { return FHotKey; }
  void SetHotKey(THotKeyValue value) noexcept { FHotKey = value; }
  // Combination this entry had by default (stored with the entry).
  THotKeyValue HotKeyDefault() const noexcept { return FHotKeyDefault; }
  void SetHotKeyDefault(THotKeyValue value) noexcept { FHotKeyDefault = value; }
  // Identifier of the registration (the global atom); it comes back as the
  // wParam of WM_HOTKEY. 0 until the first registration; kept after unregistering.
  std::int32_t HotKeyID() const noexcept { return FHotKeyID; }
  // Function name ("電源制御", "ブラックアウト", "入力1" ...).
  const std::wstring& HotKeyFunc() const noexcept { return FHotKeyFunc; }
  void SetHotKeyFunc(const std::wstring& value) { FHotKeyFunc = value; }
  // Combination as text ("Ctrl + M"), built when the entry was added.
  const std::wstring& HotKeyText() const noexcept { return FHotKeyText; }
  void SetHotKeyText(const std::wstring& value) { FHotKeyText = value; }

  // "電源制御（Ctrl + M）": function name and combination in full-width parentheses.
  std::wstring GetHotKeyFuncAndText() const;
  std::wstring HotKeyFuncAndText() const { return GetHotKeyFuncAndText(); }

  // True while the combination is registered with the system.
  bool Registered() const noexcept { return FRegisteredWindow != nullptr; }
  // True while this entry holds a reference to its atom.
  bool HoldsAtom() const noexcept { return FAtom.Held(); }

private:
  friend class THotKeyInfoList;

  THotKeyValue FHotKey = 0;
  THotKeyValue FHotKeyDefault = 0;
  std::int32_t FHotKeyID = 0;
  std::wstring FHotKeyFunc;
  std::wstring FHotKeyText;

  TGlobalAtom FAtom;                  // the one atom reference this entry took
  HWND FRegisteredWindow = nullptr;   // window the combination is registered for
};

// The owning, index-ordered table.
class THotKeyInfoList {
public:
  // Binds the table to `AppHandle` (registrations and the owner of error boxes)
  // and loads it from the settings file. Nothing is registered yet.
  explicit THotKeyInfoList(HWND AppHandle);
  // Saves the table; a refused write goes to ReportIniWriteError (IniFile.h),
  // since a destructor cannot pass it on. Does not unregister (the owner does
  // that first); an entry still registered is unregistered as it is freed.
  ~THotKeyInfoList();
  THotKeyInfoList(const THotKeyInfoList&) = delete;
  THotKeyInfoList& operator=(const THotKeyInfoList&) = delete;

  // Appends an entry: default value by its index, the given value and name, and
  // its display text. The identifier stays 0 until it is registered.
  void AddItem(THotKeyValue AHotKeyValue, const std::wstring& AHotKeyFunc);

  // Registers every entry whose value is not 0 for Handle(). Each failure is
  // reported in its own error box owned by Handle() unless ReportFailures is
  // false (nobody at the screen asked for it); the pass goes on. Returns the
  // number of entries that could not be registered.
  int DoProcess_RegisterHotKey(bool ReportFailures = true);
  // Unregisters every entry and gives back its atom reference. Silent and safe
  // to repeat: a second call releases nothing.
  void DoProcess_UnregisterHotKey();

  // Fills the table from sections HotKey0..HotKey9 of the settings file,
  // stopping at the first missing section (entries already held are dropped).
  void Load();
  // Writes every entry to the settings file (creating file and folder first).
  // Throws EIniWriteError when the file cannot be created or a write is refused.
  void Save();

  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  // Entry by index (0 <= index < Count(); std::out_of_range otherwise).
  THotKeyInfo& operator[](int index);
  const THotKeyInfo& operator[](int index) const;
  THotKeyInfo& Items(int index) { return (*this)[index]; }
  const THotKeyInfo& Items(int index) const { return (*this)[index]; }
  // Frees every entry.
  void Clear();

  HWND Handle() const noexcept { return FHandle; }

private:
  std::vector<std::unique_ptr<THotKeyInfo>> FItems;
  HWND FHandle = nullptr;
};

// The platform's name for a key code (MapVirtualKey + GetKeyNameText); empty
// when the system has none. Used for codes outside the program's name table.
std::wstring PlatformKeyName(std::uint8_t keyCode);

} // namespace kav
