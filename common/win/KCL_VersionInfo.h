#pragma once
// Reader of an executable's version resource (its first string table).
#include <cstdint>
#include <string>

#include "common/core/AppError.h"
#include "common/core/VersionResource.h"

namespace kav {

// "The file %s does not exist" / "File contains no version information".
class EVersionInfoError : public EKavError {
public:
  using EKavError::EKavError;
};

class TVersionInfo {
public:
  // Reads the version resource of FileFullPath, then sets ExeBaseName to its
  // base name. Throws EVersionInfoError (ExeBaseName unchanged) when the file
  // does not exist or has no version resource.
  explicit TVersionInfo(const std::wstring& FileFullPath);

  // Values of the first string table; a missing key gives empty text.
  std::wstring Comments() const { return FFileInfo.Find(L"Comments"); }
  std::wstring CompanyName() const { return FFileInfo.Find(L"CompanyName"); }
  std::wstring FileDescription() const { return FFileInfo.Find(L"FileDescription"); }
  std::wstring FileVersion() const { return FFileInfo.Find(L"FileVersion"); }
  std::wstring InternalName() const { return FFileInfo.Find(L"InternalName"); }
  std::wstring LegalCopyright() const { return FFileInfo.Find(L"LegalCopyright"); }
  std::wstring LegalTradeMarks() const { return FFileInfo.Find(L"LegalTradeMarks"); }
  std::wstring OriginalFilename() const { return FFileInfo.Find(L"OriginalFilename"); }
  std::wstring ProductName() const { return FFileInfo.Find(L"ProductName"); }
  std::wstring ProductVersion() const { return FFileInfo.Find(L"ProductVersion"); }

  // Any key of the first string table, without regard to case.
  std::wstring Value(const std::wstring& Key) const { return FFileInfo.Find(Key); }

  // The version resource of a file without creating a reader (and without
  // touching ExeBaseName); nullopt when the file has none.
  static std::optional<TVersionResource> ReadResource(const std::wstring& FileFullPath);

  // The whole parsed resource (fixed versions, translation, table name).
  const TVersionResource& FileInfo() const { return FFileInfo; }

private:
  TVersionResource FFileInfo;
};

} // namespace kav
