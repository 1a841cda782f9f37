#pragma once
// Parser of a version resource (VS_VERSIONINFO) as stored in an executable.
// Portable, so the reading rules can be tested without Windows.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kav {

struct TVersionResource {
  // VS_FIXEDFILEINFO, when present.
  bool HasFixedInfo = false;
  uint32_t FileVersionMS = 0;
  uint32_t FileVersionLS = 0;
  uint32_t ProductVersionMS = 0;
  uint32_t ProductVersionLS = 0;
  uint32_t FileFlags = 0;
  uint32_t FileOS = 0;
  uint32_t FileType = 0;
  // Name of the first string table ("040904E4") and its key/value pairs in order.
  std::wstring StringTableName;
  std::vector<std::pair<std::wstring, std::wstring>> Strings;
  // VarFileInfo\Translation entries: low word language, high word code page.
  std::vector<uint32_t> Translations;

  // The value of Key in the first string table, keys compared without case;
  // empty text when the table lacks it.
  std::wstring Find(const std::wstring& Key) const;
};

// Parses the bytes of a version resource; nullopt when they are not one.
// Never reads outside [Data, Data + Size).
std::optional<TVersionResource> ParseVersionResource(const uint8_t* Data, size_t Size);

} // namespace kav
