#pragma once
// What a Win32 test under Wine sees of the machine around it: environment
// variables, and the Linux paths the build passes in as Wine names them.
#include <string>

namespace kavtest {

// The variable's value; empty when it is not set.
std::wstring EnvVar(const wchar_t* Name);
// A Linux path (KAV_SIMULATOR, KAV_BINARY_DIR, ...) as Wine sees it, under drive Z:.
std::wstring WinePath(const std::string& LinuxPath);

} // namespace kavtest
