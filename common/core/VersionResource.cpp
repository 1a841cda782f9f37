#include "common/core/VersionResource.h"

#include "common/core/PathRules.h"

namespace kav {

namespace {

// One block of the resource tree: wLength, wValueLength, wType, key, value,
// children; every part starts on a 32-bit boundary of the resource.
struct TBlock {
  std::wstring Key;
  size_t ValueStart = 0;
  size_t ValueEnd = 0;  // end of the value bytes (bounded by the block)
  bool TextValue = false;
  size_t ChildrenStart = 0;
  size_t End = 0;
};

class TReader {
public:
  explicit TReader(const uint8_t* Data) : FData(Data) {}

  uint16_t Word(size_t Offset) const {
    return static_cast<uint16_t>(FData[Offset] | (FData[Offset + 1] << 8));
  }
  uint32_t DWord(size_t Offset) const {
    return static_cast<uint32_t>(Word(Offset)) | (static_cast<uint32_t>(Word(Offset + 2)) << 16);
  }

  // UTF-16 text from Start up to a terminator or Limit; Next gets the offset after it.
  std::wstring Text(size_t Start, size_t Limit, size_t& Next) const {
    std::u16string units;
    size_t p = Start;
    while (p + 2 <= Limit) {
      const uint16_t u = Word(p);
      p += 2;
      if (u == 0) break;
      units.push_back(static_cast<char16_t>(u));
    }
    Next = p;
    return Widen(units);
  }

  // Reads the block at Offset that must lie within Limit.
  std::optional<TBlock> Block(size_t Offset, size_t Limit) const {
    if (Offset + 6 > Limit) return std::nullopt;
    const size_t length = Word(Offset);
    const size_t valueLength = Word(Offset + 2);
    const uint16_t type = Word(Offset + 4);
    if (length < 6 || Offset + length > Limit) return std::nullopt;
    TBlock block;
    block.End = Offset + length;
    block.TextValue = type == 1;
    size_t p = 0;
    block.Key = Text(Offset + 6, block.End, p);
    p = Align(p);
    block.ValueStart = p > block.End ? block.End : p;
    const size_t valueBytes = block.TextValue ? valueLength * 2 : valueLength;
    block.ValueEnd = block.ValueStart + valueBytes > block.End ? block.End : block.ValueStart + valueBytes;
    const size_t children = Align(block.ValueEnd);
    block.ChildrenStart = children > block.End ? block.End : children;
    return block;
  }

  static size_t Align(size_t Offset) { return (Offset + 3) & ~static_cast<size_t>(3); }

private:
  static std::wstring Widen(const std::u16string& Units) {
    std::wstring out;
    out.reserve(Units.size());
    for (size_t i = 0; i < Units.size(); ++i) {
      const char16_t u = Units[i];
      if constexpr (sizeof(wchar_t) == 2) {
        out.push_back(static_cast<wchar_t>(u));
      } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < Units.size() && Units[i + 1] >= 0xDC00 &&
                 Units[i + 1] <= 0xDFFF) {
        const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (Units[i + 1] - 0xDC00);
        out.push_back(static_cast<wchar_t>(cp));
        ++i;
      } else {
        out.push_back(static_cast<wchar_t>(u));
      }
    }
    return out;
  }

  const uint8_t* FData;
};

constexpr uint32_t KFixedSignature = 0xFEEF04BD;

void ReadStringFileInfo(const TReader& Reader, const TBlock& Info, TVersionResource& Result) {
  // Only the first string table counts.
  const auto table = Reader.Block(Info.ChildrenStart, Info.End);
  if (!table) return;
  Result.StringTableName = table->Key;
  size_t p = table->ChildrenStart;
  while (p < table->End) {
    const auto entry = Reader.Block(p, table->End);
    if (!entry) break;
    // The value is text up to its terminator; wValueLength is not trusted to
    // count it the same way by every resource compiler.
    std::wstring value;
    if (entry->ValueStart < entry->End) {
      size_t next = 0;
      value = Reader.Text(entry->ValueStart, entry->End, next);
    }
    Result.Strings.emplace_back(entry->Key, value);
    p = TReader::Align(entry->End);
  }
}

void ReadVarFileInfo(const TReader& Reader, const TBlock& Info, TVersionResource& Result) {
  size_t p = Info.ChildrenStart;
  while (p < Info.End) {
    const auto var = Reader.Block(p, Info.End);
    if (!var) break;
    if (SameTextAscii(var->Key, L"Translation")) {
      for (size_t v = var->ValueStart; v + 4 <= var->ValueEnd; v += 4) Result.Translations.push_back(Reader.DWord(v));
    }
    p = TReader::Align(var->End);
  }
}

} // namespace

std::wstring TVersionResource::Find(const std::wstring& Key) const {
  for (const auto& [key, value] : Strings) {
    if (SameTextAscii(key, Key)) return value;
  }
  return std::wstring();
}

std::optional<TVersionResource> ParseVersionResource(const uint8_t* Data, size_t Size) {
  if (Data == nullptr) return std::nullopt;
  const TReader reader(Data);
  const auto root = reader.Block(0, Size);
  if (!root || root->Key != L"VS_VERSION_INFO") return std::nullopt;
  TVersionResource result;
  if (root->ValueEnd - root->ValueStart >= 52 && reader.DWord(root->ValueStart) == KFixedSignature) {
    const size_t f = root->ValueStart;
    result.HasFixedInfo = true;
    result.FileVersionMS = reader.DWord(f + 8);
    result.FileVersionLS = reader.DWord(f + 12);
    result.ProductVersionMS = reader.DWord(f + 16);
    result.ProductVersionLS = reader.DWord(f + 20);
    result.FileFlags = reader.DWord(f + 28);
    result.FileOS = reader.DWord(f + 32);
    result.FileType = reader.DWord(f + 36);
  }
  size_t p = root->ChildrenStart;
  bool haveStrings = false;
  while (p < root->End) {
    const auto child = reader.Block(p, root->End);
    if (!child) break;
    if (!haveStrings && child->Key == L"StringFileInfo") {
      ReadStringFileInfo(reader, *child, result);
      haveStrings = true;
    } else if (child->Key == L"VarFileInfo") {
      ReadVarFileInfo(reader, *child, result);
    }
    p = TReader::Align(child->End);
  }
  return result;
}

} // namespace kav
