#pragma once
// Registry operations of the program family. Stateless: static only.
#include <string>

#include "common/core/AppError.h"

namespace kav {

// "'%s' の設定に失敗しました" with the value name.
class ERegistryError : public EKavError {
public:
  using EKavError::EKavError;
};

class TRegistryFunc {
public:
  TRegistryFunc() = delete;

  // "SYSTEM\CurrentControlSet\services\eventlog\Application\" + SourceName
  static std::wstring EventLogSourceKey(const std::wstring& SourceName);

  // Registers ExeBaseName as an Application event source with FileFullPath
  // as its message file ("EventMessageFile") and "TypesSupported" = 7. Does
  // nothing when the key cannot be opened or created (no rights); throws
  // ERegistryError when a value cannot be written to an opened key.
  static void SetEventLogSource(const std::wstring& FileFullPath);
};

} // namespace kav
