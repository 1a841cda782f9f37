#include "common/core/VersionResource.h"

#include <gtest/gtest.h>

#include <functional>

using namespace kav;

namespace {

// Writes version-resource blocks the way resource compilers lay them out.
class TBlockWriter {
public:
  std::vector<uint8_t> Bytes;

  // One block; Body writes the children. Value is text (type 1) or binary.
  void Block(const std::u16string& Key, const std::u16string* Text, const std::vector<uint8_t>* Binary,
             const std::function<void()>& Body = {}) {
    const size_t start = Bytes.size();
    Word(0);  // length, patched below
    Word(Text ? static_cast<uint16_t>(Text->size() + 1) : Binary ? static_cast<uint16_t>(Binary->size()) : 0);
    Word(Text ? 1 : 0);
    Str(Key);
    Pad();
    if (Text) Str(*Text);
    if (Binary) Bytes.insert(Bytes.end(), Binary->begin(), Binary->end());
    Pad();
    if (Body) Body();
    const size_t length = Bytes.size() - start;
    Bytes[start] = static_cast<uint8_t>(length & 0xFF);
    Bytes[start + 1] = static_cast<uint8_t>(length >> 8);
  }
  void String(const std::u16string& Key, const std::u16string& Value) {
    Block(Key, &Value, nullptr);
    Pad();
  }
  void Word(uint16_t v) {
    Bytes.push_back(static_cast<uint8_t>(v & 0xFF));
    Bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  void DWord(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Str(const std::u16string& s) {
    for (char16_t c : s) Word(static_cast<uint16_t>(c));
    Word(0);
  }
  void Pad() {
    while (Bytes.size() % 4 != 0) Bytes.push_back(0);
  }
};

std::vector<uint8_t> SampleResource(bool WithComments = true) {
  TBlockWriter w;
  std::vector<uint8_t> fixed;
  for (uint32_t v : {0xFEEF04BDu, 0x00010000u, 0x00010001u, 0x0001000Au, 0x00010001u, 0x0001000Au, 0x3Fu, 0u, 4u, 1u,
                     0u, 0u, 0u}) {
    w.DWord(fixed, v);
  }
  std::vector<uint8_t> translation;
  w.DWord(translation, 0x04E40409);
  w.Block(u"VS_VERSION_INFO", nullptr, &fixed, [&] {
    w.Block(u"StringFileInfo", nullptr, nullptr, [&] {
      w.Block(u"040904E4", nullptr, nullptr, [&] {
        if (WithComments) w.String(u"Comments", u"KCommonLib = Ver.0.0.2.43 / KCommonFormLib = Ver.0.0.0.23");
        w.String(u"ProductName", u"KTX-AV90R\u5236\u5fa1\u30bd\u30d5\u30c8");
        w.String(u"InternalName", u"KTX-AV90R");
        w.String(u"FileVersion", u"1.1.1.10");
      });
      w.Block(u"041104B0", nullptr, nullptr, [&] { w.String(u"ProductName", u"second table"); });
    });
    w.Block(u"VarFileInfo", nullptr, nullptr, [&] { w.Block(u"Translation", nullptr, &translation); });
  });
  return w.Bytes;
}

} // namespace

TEST(VersionResource, ReadsFixedInfoFirstStringTableAndTranslation) {
  const auto bytes = SampleResource();
  const auto r = ParseVersionResource(bytes.data(), bytes.size());
  ASSERT_TRUE(r.has_value());
  EXPECT_TRUE(r->HasFixedInfo);
  EXPECT_EQ(r->FileVersionMS, 0x00010001u);
  EXPECT_EQ(r->FileVersionLS, 0x0001000Au);
  EXPECT_EQ(r->FileOS, 4u);
  EXPECT_EQ(r->FileType, 1u);
  EXPECT_EQ(r->StringTableName, L"040904E4");
  EXPECT_EQ(r->Find(L"ProductName"), L"KTX-AV90R制御ソフト");  // not the second table's
  EXPECT_EQ(r->Find(L"InternalName"), L"KTX-AV90R");
  ASSERT_EQ(r->Translations.size(), 1u);
  EXPECT_EQ(r->Translations[0], 0x04E40409u);
}

TEST(VersionResource, KeysWithoutCaseAndMissingKeysEmpty) {
  const auto bytes = SampleResource(false);
  const auto r = ParseVersionResource(bytes.data(), bytes.size());
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->Find(L"productname"), L"KTX-AV90R制御ソフト");
  EXPECT_EQ(r->Find(L"FILEVERSION"), L"1.1.1.10");
  EXPECT_EQ(r->Find(L"Comments"), L"");
  EXPECT_EQ(r->Find(L"LegalTradeMarks"), L"");
}

TEST(VersionResource, DamagedDataIsRejectedOrCutWithoutOverreading) {
  EXPECT_FALSE(ParseVersionResource(nullptr, 0).has_value());
  const auto bytes = SampleResource();
  // Every truncation either fails or yields a prefix of the table; the
  // sanitizers catch any read beyond the given size.
  for (size_t size = 0; size < bytes.size(); ++size) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(size));
    const auto r = ParseVersionResource(cut.data(), cut.size());
    if (r) {
      EXPECT_LE(r->Strings.size(), 4u);
    }
  }
  // Lengths that point past the end, or a wrong root key.
  auto broken = bytes;
  broken[0] = 0xFF;
  broken[1] = 0xFF;
  EXPECT_FALSE(ParseVersionResource(broken.data(), broken.size()).has_value());
  auto wrongKey = bytes;
  wrongKey[6] = 'X';
  EXPECT_FALSE(ParseVersionResource(wrongKey.data(), wrongKey.size()).has_value());
  // Garbage of every byte value does not crash.
  for (int fill = 0; fill < 256; fill += 17) {
    std::vector<uint8_t> junk(300, static_cast<uint8_t>(fill));
    ParseVersionResource(junk.data(), junk.size());
  }
}
