#include "hotkeys/win/clsHotKeyInfo.h"

#include <stdexcept>

#include "common/win/CallbackGuard.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_FileOperation.h"
#include "common/win/MessageBoxSeam.h"
#include "common/win/IniFile.h"

namespace kav {

namespace {
std::wstring SectionName(int index) {
  return L"HotKey" + std::to_wstring(index);
}
} // namespace

// ---------------------------------------------------------------- THotKeyInfo

THotKeyInfo::~THotKeyInfo() {
  if (FRegisteredWindow != nullptr) UnregisterHotKey(FRegisteredWindow, FHotKeyID);
  // FAtom gives its reference back by itself.
}

std::wstring THotKeyInfo::GetHotKeyFuncAndText() const {
  return kav::HotKeyFuncAndText(FHotKeyFunc, FHotKeyText);
}

// ------------------------------------------------------------ THotKeyInfoList

THotKeyInfoList::THotKeyInfoList(HWND AppHandle) : FHandle(AppHandle) {
  Load();
}

THotKeyInfoList::~THotKeyInfoList() {
  // A destructor must not throw: a refused write is shown instead of ending
  // the process or vanishing.
  try {
    Save();
  } catch (const EIniWriteError& e) {
    ReportIniWriteError(e);
  } catch (...) {
    HandleCallbackException();
  }
}

void THotKeyInfoList::AddItem(THotKeyValue AHotKeyValue, const std::wstring& AHotKeyFunc) {
  auto item = std::make_unique<THotKeyInfo>();
  item->FHotKeyDefault = DefaultHotKeyValue(FItems.size());
  item->FHotKey = AHotKeyValue;
  item->FHotKeyFunc = AHotKeyFunc;
  item->FHotKeyText = HotKeyText(AHotKeyValue, PlatformKeyName);
  FItems.push_back(std::move(item));
}

int THotKeyInfoList::DoProcess_RegisterHotKey(bool ReportFailures) {
  int failures = 0;
  // Walk by index and look the entry up again after each error box: the box
  // runs a message loop in which the table may be cleared or refilled.
  for (int i = 0; i < Count(); ++i) {
    THotKeyInfo& item = *FItems[static_cast<std::size_t>(i)];
    if (item.FHotKey == 0) continue;

    // Registering an entry that is still registered replaces its registration
    // instead of stacking a second one on the same identifier.
    if (item.FRegisteredWindow != nullptr) {
      UnregisterHotKey(item.FRegisteredWindow, item.FHotKeyID);
      item.FRegisteredWindow = nullptr;
    }
    // One atom reference per entry, however often it is registered.
    if (!item.FAtom.Held()) item.FAtom = TGlobalAtom::Add(HotKeyAtomName(static_cast<std::size_t>(i)));

    bool registered = false;
    if (item.FAtom.Held()) {
      item.FHotKeyID = static_cast<std::int32_t>(item.FAtom.Value());
      registered = RegisterHotKey(FHandle, item.FHotKeyID, HotKeyModifiers(item.FHotKey),
                                  HotKeyKeyCode(item.FHotKey)) != FALSE;
    }
    if (registered) {
      item.FRegisteredWindow = FHandle;
    } else {
      ++failures;
      if (!ReportFailures) continue;
      const std::wstring text = item.GetHotKeyFuncAndText() + L"が登録できませんでした。";
      ShowMessageBox(FHandle, text, L"エラー", MB_ICONERROR | MB_OK);
    }
  }
  return failures;
}

void THotKeyInfoList::DoProcess_UnregisterHotKey() {
  for (auto& item : FItems) {
    if (item->FRegisteredWindow != nullptr) {
      UnregisterHotKey(item->FRegisteredWindow, item->FHotKeyID);
      item->FRegisteredWindow = nullptr;
    }
    // Only the reference this entry took is given back, and only once: a
    // second pass must not drop a reference somebody else holds on the atom.
    item->FAtom.Release();
  }
}

void THotKeyInfoList::Load() {
  // Loading twice must not append a second copy: positions are functions.
  Clear();
  TIniFile ini(SettingsIniFile);
  // Ten functions exist; sections beyond HotKey9 mean nothing to the program.
  for (int i = 0; i < static_cast<int>(HotKeyCount); ++i) {
    const std::wstring section = SectionName(i);
    if (!ini.SectionExists(section)) break;
    const THotKeyValue value = HotKeyValueFromInt(ini.ReadInteger(section, L"HotKey", -1));
    const std::wstring func = ini.ReadString(section, L"HotKeyFunc", L"");
    AddItem(value, func);
    FItems.back()->FHotKeyDefault =
        HotKeyValueFromInt(ini.ReadInteger(section, L"HotKeyDefault", DefaultHotKeyValue(static_cast<std::size_t>(i))));
  }
}

void THotKeyInfoList::Save() {
  TIniFile ini(SettingsIniFile);
  try {
    TFileOperation::CreateFileAndFolder(SettingsIniFile, true);
  } catch (const EFileOperationError&) {
    // A file that cannot be created is a settings write refused like any other.
    throw EIniWriteError(ini.FileName());
  }
  for (int i = 0; i < Count(); ++i) {
    const THotKeyInfo& item = *FItems[static_cast<std::size_t>(i)];
    const std::wstring section = SectionName(i);
    // The default is recorded once, when the section is created, and kept.
    if (!ini.SectionExists(section)) ini.WriteInteger(section, L"HotKeyDefault", item.FHotKeyDefault);
    ini.WriteInteger(section, L"HotKey", item.FHotKey);
    ini.WriteString(section, L"HotKeyFunc", item.FHotKeyFunc);
  }
}

THotKeyInfo& THotKeyInfoList::operator[](int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("hot-key index out of range");
  return *FItems[static_cast<std::size_t>(index)];
}

const THotKeyInfo& THotKeyInfoList::operator[](int index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("hot-key index out of range");
  return *FItems[static_cast<std::size_t>(index)];
}

void THotKeyInfoList::Clear() {
  FItems.clear();
}

} // namespace kav
