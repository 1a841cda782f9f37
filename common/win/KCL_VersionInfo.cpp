#include "common/win/KCL_VersionInfo.h"

#include <windows.h>

#include <vector>

#include "common/win/KCL_AppData.h"
#include "common/win/KCL_FileOperation.h"

namespace kav {

// Reads the raw version resource through the loader's resource functions
// rather than version.dll: the program imports nothing from outside the
// system's known DLLs, so no DLL placed beside it can be loaded in its place.
std::optional<TVersionResource> TVersionInfo::ReadResource(const std::wstring& FileFullPath) {
  HMODULE module = LoadLibraryExW(FileFullPath.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return std::nullopt;
  std::optional<TVersionResource> result;
  if (HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16) /* RT_VERSION */)) {
    const DWORD size = SizeofResource(module, info);
    HGLOBAL loaded = LoadResource(module, info);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data != nullptr && size != 0) {
      result = ParseVersionResource(static_cast<const uint8_t*>(data), size);
    }
  }
  FreeLibrary(module);
  return result;
}

TVersionInfo::TVersionInfo(const std::wstring& FileFullPath) {
  if (!TFileOperation::ExistFile(FileFullPath)) {
    throw EVersionInfoError(L"The file " + FileFullPath + L" does not exist");
  }
  auto resource = ReadResource(FileFullPath);
  if (!resource) throw EVersionInfoError(L"File contains no version information");
  FFileInfo = std::move(*resource);
  ExeBaseName = GetFileBaseName(FileFullPath);
}

} // namespace kav
