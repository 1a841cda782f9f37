// The resources the executables carry: version values through TVersionInfo,
// the message table, the icons and the manifest. Checked on the program
// when it has been built, and always on this test executable, which links
// the same resources.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "common/core/TextUtil.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_VersionInfo.h"
#include "resources/resource.h"
#include "tests/win/support/FileSystem.h"
#include "tests/win/support/HostEnvironment.h"

using namespace kav;

namespace {

// The executables to check: this one, and the program once it exists.
std::vector<std::wstring> Executables() {
  std::vector<std::wstring> result{GetExeFullPath()};
#ifdef KAV_PROGRAM_EXE
  const std::wstring program = kavtest::WinePath(KAV_PROGRAM_EXE);
  if (kavtest::FileExists(program)) result.push_back(program);
#endif
  return result;
}

// An executable's resources, loaded as data.
class TResourceModule {
public:
  explicit TResourceModule(const std::wstring& Path)
      : FModule(LoadLibraryExW(Path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~TResourceModule() {
    if (FModule) FreeLibrary(FModule);
  }
  HMODULE Get() const { return FModule; }

  std::string Bytes(LPCWSTR Type, LPCWSTR Name, WORD Language) const {
    HRSRC res = FindResourceExW(FModule, Type, Name, Language);
    if (!res) return std::string();
    HGLOBAL data = LoadResource(FModule, res);
    const char* p = static_cast<const char*>(LockResource(data));
    return p ? std::string(p, SizeofResource(FModule, res)) : std::string();
  }

private:
  HMODULE FModule;
};

// The pixels of an icon loaded at Size x Size, top row first, as 0xAARRGGBB.
std::vector<uint32_t> IconPixels(HMODULE Module, int Id, int Size) {
  HICON icon = static_cast<HICON>(LoadImageW(Module, MAKEINTRESOURCEW(Id), IMAGE_ICON, Size, Size, 0));
  if (!icon) return {};
  ICONINFO info{};
  GetIconInfo(icon, &info);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = Size;
  bi.bmiHeader.biHeight = -Size;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(static_cast<size_t>(Size * Size));
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, info.hbmColor, 0, static_cast<UINT>(Size), pixels.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(icon);
  return pixels;
}

int Alpha(uint32_t p) { return static_cast<int>(p >> 24); }
int Red(uint32_t p) { return static_cast<int>((p >> 16) & 0xFF); }
int Green(uint32_t p) { return static_cast<int>((p >> 8) & 0xFF); }
int Blue(uint32_t p) { return static_cast<int>(p & 0xFF); }

// Checks that Pixels hold one opaque square, centred, on a transparent
// ground, every opaque pixel passing IsRightColour; returns the opaque mask.
std::vector<bool> ExpectFilledSquare(const std::vector<uint32_t>& Pixels, int Size,
                                     const std::function<bool(uint32_t)>& IsRightColour) {
  std::vector<bool> mask(Pixels.size());
  EXPECT_EQ(Pixels.size(), static_cast<size_t>(Size * Size));
  if (Pixels.size() != static_cast<size_t>(Size * Size)) return mask;
  int left = Size, top = Size, right = -1, bottom = -1;
  for (int y = 0; y < Size; ++y)
    for (int x = 0; x < Size; ++x)
      if (Alpha(Pixels[static_cast<size_t>(y * Size + x)]) != 0) {
        left = std::min(left, x);
        top = std::min(top, y);
        right = std::max(right, x);
        bottom = std::max(bottom, y);
      }
  // Square, centred, and large enough to read at a glance.
  EXPECT_EQ(right - left, bottom - top);
  EXPECT_EQ(left, top);
  EXPECT_EQ(left, Size - 1 - right);
  EXPECT_GE(right - left + 1, Size * 3 / 4);
  int wrong = 0;
  for (int y = 0; y < Size; ++y)
    for (int x = 0; x < Size; ++x) {
      const uint32_t p = Pixels[static_cast<size_t>(y * Size + x)];
      const bool inside = x >= left && x <= right && y >= top && y <= bottom;
      mask[static_cast<size_t>(y * Size + x)] = inside;
      if (inside ? (Alpha(p) != 255 || !IsRightColour(p)) : Alpha(p) != 0) ++wrong;
    }
  EXPECT_EQ(wrong, 0) << "pixels that break the filled square";
  return mask;
}

BOOL CALLBACK FirstName(HMODULE, LPCWSTR, LPWSTR Name, LONG_PTR Param) {
  *reinterpret_cast<ULONG_PTR*>(Param) = IS_INTRESOURCE(Name) ? reinterpret_cast<ULONG_PTR>(Name) : 0;
  return FALSE;  // the first one is enough
}

} // namespace

TEST(Resources, VersionValuesThroughTheReader) {
  for (const auto& exe : Executables()) {
    SCOPED_TRACE(ToUtf8(exe));
    const TVersionInfo v(exe);
    EXPECT_EQ(v.ProductName(), L"KTX-AV90R制御ソフト");
    EXPECT_EQ(v.InternalName(), L"KTX-AV90R");
    EXPECT_EQ(v.FileDescription(), L"KOVA KTX-AV90R制御ソフト");
    EXPECT_EQ(v.FileVersion(), L"1.1.1.10");
    EXPECT_EQ(v.ProductVersion(), L"1.1.1.10");
    EXPECT_EQ(v.OriginalFilename(), L"KAV90R_HotKeyController.exe");
    EXPECT_EQ(v.Comments(), L"KCommonLib = Ver.0.0.2.43 / KCommonFormLib = Ver.0.0.0.23");
    EXPECT_FALSE(v.CompanyName().empty());
    EXPECT_FALSE(v.LegalCopyright().empty());
    EXPECT_EQ(v.LegalTradeMarks(), L"");  // not in the table: empty, no error
    EXPECT_EQ(v.Value(L"PRODUCTNAME"), v.ProductName());
    EXPECT_EQ(ExeBaseName, GetFileBaseName(exe));

    const TVersionResource& r = v.FileInfo();
    EXPECT_TRUE(r.HasFixedInfo);
    EXPECT_EQ(r.FileVersionMS, 0x00010001u);
    EXPECT_EQ(r.FileVersionLS, 0x0001000Au);
    EXPECT_EQ(r.ProductVersionMS, 0x00010001u);
    EXPECT_EQ(r.ProductVersionLS, 0x0001000Au);
    EXPECT_EQ(r.FileType, static_cast<uint32_t>(VFT_APP));
    EXPECT_EQ(r.FileOS, static_cast<uint32_t>(VOS__WINDOWS32));
    EXPECT_EQ(r.FileFlags, 0u);
    EXPECT_EQ(r.StringTableName, L"040904E4");
    ASSERT_EQ(r.Translations.size(), 1u);
    EXPECT_EQ(r.Translations[0], 0x04E40409u);  // language 0x0409, code page 1252

    // The platform's own reader agrees.
    DWORD ignored = 0;
    std::vector<uint8_t> data(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
    wchar_t* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904E4\\ProductName",
                               reinterpret_cast<void**>(&value), &length));
    EXPECT_EQ(std::wstring(value), L"KTX-AV90R制御ソフト");
  }
}

TEST(Resources, VersionReaderErrors) {
  ExeBaseName = L"unchanged";
  kavtest::TTempDir dir;
  const std::wstring missing = dir / L"missing.exe";
  try {
    TVersionInfo v(missing);
    ADD_FAILURE() << "no error";
  } catch (const EVersionInfoError& e) {
    EXPECT_EQ(e.Message(), L"The file " + missing + L" does not exist");
  }
  const std::wstring plain = dir / L"plain.exe";
  kavtest::WriteBytes(plain, "not an executable");
  try {
    TVersionInfo v(plain);
    ADD_FAILURE() << "no error";
  } catch (const EVersionInfoError& e) {
    EXPECT_EQ(e.Message(), L"File contains no version information");
  }
  EXPECT_EQ(ExeBaseName, L"unchanged");
}

TEST(Resources, MessageTableGivesTheInsertionString) {
  for (const auto& exe : Executables()) {
    SCOPED_TRACE(ToUtf8(exe));
    const TResourceModule module(exe);
    ASSERT_NE(module.Get(), nullptr);
    // Neutral language, 8-bit text "%1".
    const std::string table = module.Bytes(RT_MESSAGETABLE, MAKEINTRESOURCEW(IDR_MESSAGETABLE),
                                           MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_GE(table.size(), 16u);
    EXPECT_EQ(table.substr(0, 12), std::string("\x01\0\0\0\x01\0\0\0\x01\0\0\0", 12));  // one block, id 1 to 1
    EXPECT_NE(table.find("%1"), std::string::npos);
    const std::wstring text = L"KOVAイベントログ：起動";
    const DWORD_PTR args[1] = {reinterpret_cast<DWORD_PTR>(text.c_str())};
    wchar_t buffer[256] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module.Get(), 1, 0,
                                   buffer, 256, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(args)));
    ASSERT_GT(n, 0u);
    std::wstring shown(buffer, n);
    while (!shown.empty() && (shown.back() == L'\n' || shown.back() == L'\r')) shown.pop_back();
    EXPECT_EQ(shown, text);
  }
}

TEST(Resources, IconsAndManifest) {
  for (const auto& exe : Executables()) {
    SCOPED_TRACE(ToUtf8(exe));
    const TResourceModule module(exe);
    ASSERT_NE(module.Get(), nullptr);
    // The program icon is the first icon group, so it is icon index 0.
    ULONG_PTR first = 0;
    EnumResourceNamesW(module.Get(), RT_GROUP_ICON, FirstName, reinterpret_cast<LONG_PTR>(&first));
    EXPECT_EQ(first, static_cast<ULONG_PTR>(IDI_MAINICON));
    HICON big = static_cast<HICON>(LoadImageW(module.Get(), MAKEINTRESOURCEW(IDI_MAINICON), IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(big, nullptr);
    if (big) DestroyIcon(big);

    // Tray icons: a red square (on) and the same square in grey (off), drawn
    // for the small-icon sizes of 100 to 200 % scaling, 32-bit with alpha.
    for (const int id : {IDI_TRAY_ON, IDI_TRAY_OFF}) {
      const std::string group =
          module.Bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
      ASSERT_EQ(group.size(), 6u + 4u * 14u) << id;
      std::vector<int> sizes;
      for (size_t i = 0; i < 4; ++i) {
        sizes.push_back(static_cast<uint8_t>(group[6 + i * 14]));
        EXPECT_EQ(static_cast<uint8_t>(group[6 + i * 14 + 6]), 32) << id; // bits per pixel
      }
      std::sort(sizes.begin(), sizes.end());
      EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32})) << id;
    }
    for (const int size : {16, 20, 24, 32}) {
      SCOPED_TRACE(size);
      const auto on = ExpectFilledSquare(IconPixels(module.Get(), IDI_TRAY_ON, size), size, [](uint32_t p) {
        return Red(p) >= 140 && Green(p) <= 40 && Blue(p) <= 40;
      });
      const auto off = ExpectFilledSquare(IconPixels(module.Get(), IDI_TRAY_OFF, size), size, [](uint32_t p) {
        return Red(p) == Green(p) && Green(p) == Blue(p) && Red(p) >= 80 && Red(p) <= 200;
      });
      EXPECT_EQ(on, off); // the same square
    }

    const std::string manifest = module.Bytes(RT_MANIFEST, MAKEINTRESOURCEW(IDR_MANIFEST),
                                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find(">True/PM</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  }
}
