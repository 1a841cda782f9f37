#pragma once
// The "/debug" report: what the process still holds at exit compared with
// what it held when the switch was read.
#include <cstdint>
#include <string>

namespace kav {

struct TResourceCounts {
  uint32_t GdiObjects = 0;
  uint32_t UserObjects = 0;
  uint32_t KernelHandles = 0;
  uint64_t HeapBlocks = 0;  // busy blocks of the process heap
  uint64_t HeapBytes = 0;
};

// One line of text naming each count at exit and its change since the start.
std::wstring FormatResourceReport(const TResourceCounts& AtStart, const TResourceCounts& AtExit);

} // namespace kav
