#pragma once
// A settings write that the platform refused. Its message is the one a
// person is shown: "<full path> に書き込めません".
#include <string>

#include "common/core/AppError.h"

namespace kav {

// "%s に書き込めません" with the file's full path.
std::wstring IniWriteErrorText(const std::wstring& FileName);

class EIniWriteError : public EKavError {
public:
  explicit EIniWriteError(const std::wstring& FileName)
      : EKavError(IniWriteErrorText(FileName)), FFileName(FileName) {}
  // Full path of the file that could not be written.
  const std::wstring& FileName() const noexcept { return FFileName; }

private:
  std::wstring FFileName;
};

} // namespace kav
