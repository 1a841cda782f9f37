#include "common/win/KCL_VersionInfo.h"

#include <windows.h>

#include <vector>

#include "common/win/KCL_AppData.h"
#include "common/win/KCL_FileOperation.h"

namespace kav {

std::optional<TVersionResource> TVersionInfo::ReadResource(const std::wstring& FileFullPath) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(FileFullPath.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<uint8_t> data(size);
  if (!GetFileVersionInfoW(FileFullPath.c_str(), 0, size, data.data())) return std::nullopt;
  return ParseVersionResource(data.data(), data.size());
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
