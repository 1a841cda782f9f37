#include "common/core/IniWriteError.h"

namespace kav {

std::wstring IniWriteErrorText(const std::wstring& FileName) { return FileName + L" に書き込めません"; }

} // namespace kav
