// TIniFile and GetLogKeepDay on real files through the private-profile functions.
#include <gtest/gtest.h>

#include "common/win/KCL_AppData.h"
#include "common/win/KCL_IniFileFunc.h"
#include "common/win/IniFile.h"
#include "tests/win/support/FileSystem.h"

using namespace kav;
using kavtest::TSettingsPath;
using kavtest::TTempDir;

namespace {

std::string Sjis(const std::wstring& Text) { return kavtest::ToCodePage(Text, 932); }

// Whether the platform refuses writing a read-only file (Wine run by root does not).
bool ReadOnlyIsEnforced(const std::wstring& ReadOnlyFile) {
  HANDLE h = CreateFileW(ReadOnlyFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;
  CloseHandle(h);
  return false;
}

} // namespace

TEST(IniFile, HandEditedFileReadsWithDefaults) {
  TTempDir dir;
  const std::wstring path = dir / L"hand.ini";
  const std::string longValue(3000, 'v');
  kavtest::WriteBytes(path,
                      "[HotKey]\r\n"
                      "ComPort=\r\n"
                      "PowerUpOnAppStart=2\r\n"
                      "WindowVisible=no\r\n"
                      "HotKeyEnableOnAppStart=0\r\n"
                      "[HotKey0]\r\n"
                      "HotKey=0x24D\r\n"
                      "HotKeyFunc=" + Sjis(L"電源制御") + "\r\n"
                      "[HotKey1]\r\n"
                      "[HotKey2]\r\n"
                      "HotKey=99999999999\r\n"
                      "HotKeyDefault=$70\r\n"
                      "[]\r\n"
                      "[System]\r\n"
                      "LogKeepDay=abc\r\n"
                      "Long=" + longValue + "\r\n");
  const TIniFile ini(path);
  EXPECT_EQ(ini.FileName(), path);
  // An empty value reads as empty text, like a missing key.
  EXPECT_EQ(ini.ReadString(L"HotKey", L"ComPort", L""), L"");
  EXPECT_EQ(ini.ReadString(L"HotKey", L"Missing", L"dflt"), L"dflt");
  EXPECT_TRUE(ini.ReadBool(L"HotKey", L"PowerUpOnAppStart", false));
  EXPECT_TRUE(ini.ReadBool(L"HotKey", L"WindowVisible", true));
  EXPECT_FALSE(ini.ReadBool(L"HotKey", L"WindowVisible", false));
  EXPECT_FALSE(ini.ReadBool(L"HotKey", L"HotKeyEnableOnAppStart", true));
  EXPECT_EQ(ini.ReadInteger(L"HotKey0", L"HotKey", -1), 589);
  EXPECT_EQ(ini.ReadString(L"HotKey0", L"HotKeyFunc", L""), L"電源制御");  // ANSI (Shift-JIS) text
  EXPECT_EQ(ini.ReadInteger(L"HotKey2", L"HotKey", -1), -1);  // too wide for 32 bits
  EXPECT_EQ(ini.ReadInteger(L"HotKey2", L"HotKeyDefault", 0), 0x70);
  EXPECT_EQ(ini.ReadInteger(L"System", L"LogKeepDay", 30), 30);
  EXPECT_EQ(ini.ReadInteger(L"Nowhere", L"Nothing", 7), 7);
  // Long strings come back cut to 2047 characters.
  EXPECT_EQ(ini.ReadString(L"System", L"Long", L""), std::wstring(2047, L'v'));

  // A section exists only with a key; keys are found without regard to case.
  EXPECT_TRUE(ini.SectionExists(L"HotKey0"));
  EXPECT_FALSE(ini.SectionExists(L"HotKey1"));
  EXPECT_FALSE(ini.SectionExists(L"HotKey9"));
  EXPECT_TRUE(ini.ValueExists(L"HotKey0", L"HotKey"));
  EXPECT_TRUE(ini.ValueExists(L"hotkey0", L"HOTKEYFUNC"));
  EXPECT_FALSE(ini.ValueExists(L"HotKey0", L"HotKeyDefault"));
  EXPECT_TRUE(ini.ValueExists(L"HotKey", L"ComPort"));  // present though empty
  EXPECT_EQ(ini.ReadSection(L"HotKey2"), (std::vector<std::wstring>{L"HotKey", L"HotKeyDefault"}));
}

TEST(IniFile, MissingFileGivesDefaultsAndCreatesNothing) {
  TTempDir dir;
  const std::wstring path = dir / L"none\\absent.ini";
  const TIniFile ini(path);
  EXPECT_EQ(ini.ReadString(L"HotKey", L"ComPort", L"x"), L"x");
  EXPECT_EQ(ini.ReadInteger(L"System", L"LogKeepDay", 30), 30);
  EXPECT_FALSE(ini.SectionExists(L"HotKey"));
  EXPECT_FALSE(kavtest::FileExists(path));
  // An empty path reads defaults and refuses writes.
  TIniFile empty(L"");
  EXPECT_EQ(empty.ReadInteger(L"System", L"LogKeepDay", 30), 30);
  EXPECT_THROW(empty.WriteInteger(L"System", L"LogKeepDay", 30), EIniWriteError);
}

TEST(IniFile, WritesDecimalAndBooleansInTheAnsiCodePage) {
  ASSERT_EQ(GetACP(), 932u) << "run under LANG=ja_JP.UTF-8";
  TTempDir dir;
  const std::wstring path = dir / L"w.ini";
  TIniFile ini(path);
  ini.WriteInteger(L"HotKey0", L"HotKey", 589);
  ini.WriteInteger(L"HotKey0", L"Neg", -1);
  ini.WriteBool(L"HotKey0", L"On", true);
  ini.WriteBool(L"HotKey0", L"Off", false);
  ini.WriteString(L"HotKey0", L"HotKeyFunc", L"ブラックアウト");
  EXPECT_EQ(kavtest::ReadBytes(path), "[HotKey0]\r\nHotKey=589\r\nNeg=-1\r\nOn=1\r\nOff=0\r\nHotKeyFunc=" +
                                          Sjis(L"ブラックアウト") + "\r\n");
  // Rewriting a key changes it in place; other programs' edits are seen at the next read.
  ini.WriteInteger(L"HotKey0", L"HotKey", 578);
  EXPECT_EQ(ini.ReadInteger(L"HotKey0", L"HotKey", 0), 578);
  kavtest::WriteBytes(path, "[HotKey0]\r\nHotKey=112\r\n");
  EXPECT_EQ(ini.ReadInteger(L"HotKey0", L"HotKey", 0), 112);
  ini.DeleteKey(L"HotKey0", L"HotKey");
  EXPECT_FALSE(ini.ValueExists(L"HotKey0", L"HotKey"));
  ini.WriteString(L"HotKey1", L"A", L"1");
  ini.EraseSection(L"HotKey1");
  EXPECT_FALSE(ini.SectionExists(L"HotKey1"));
}

TEST(IniFile, RefusedWriteThrowsWithTheFullPath) {
  TTempDir dir;
  const std::wstring path = dir / L"held.ini";
  kavtest::WriteBytes(path, "[System]\r\nLogKeepDay=30\r\n");
  TIniFile ini(path);
  {
    const kavtest::THeldFile held(path);  // another program holds it
    ASSERT_TRUE(held.Held());
    try {
      ini.WriteInteger(L"System", L"LogKeepDay", 10);
      ADD_FAILURE() << "no error";
    } catch (const EIniWriteError& e) {
      EXPECT_EQ(e.Message(), path + L" に書き込めません");
      EXPECT_EQ(e.FileName(), path);
    }
    EXPECT_THROW(ini.WriteBool(L"HotKey", L"WindowVisible", true), EIniWriteError);
  }
  EXPECT_EQ(kavtest::ReadBytes(path), "[System]\r\nLogKeepDay=30\r\n");

  // A read-only file, where the platform enforces it.
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  if (ReadOnlyIsEnforced(path)) {
    EXPECT_THROW(ini.WriteInteger(L"System", L"LogKeepDay", 10), EIniWriteError);
    EXPECT_EQ(ini.ReadInteger(L"System", L"LogKeepDay", 0), 30);  // still readable
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);

  // A folder that does not exist: the write is refused too.
  TIniFile missing(dir / L"gone\\x.ini");
  EXPECT_THROW(missing.WriteString(L"HotKey", L"ComPort", L"COM3"), EIniWriteError);

  // A relative name is made a full path, so the message names the real file.
  const TIniFile relative(L"rel.ini");
  EXPECT_NE(relative.FileName().find(L":\\"), std::wstring::npos);
}

TEST(IniFileFunc, LogKeepDayCases) {
  TTempDir dir;
  const std::wstring path = dir / L"k.ini";
  const TSettingsPath settings(path);
  struct TCase {
    const char* Stored;  // nullptr: no key
    int32_t Expected;
  };
  for (const TCase& c : {TCase{"400", 365}, TCase{"365", 365}, TCase{"0", 0}, TCase{"-3", -3}, TCase{"abc", 30},
                         TCase{"99999999999", 30}, TCase{"2147483647", 365}, TCase{"$10", 16}, TCase{"", 30}}) {
    const std::string content = std::string("[System]\r\nLogKeepDay=") + c.Stored + "\r\n";
    kavtest::WriteBytes(path, content);
    EXPECT_EQ(TIniFileFunc::GetLogKeepDay(), c.Expected) << c.Stored;
    EXPECT_EQ(kavtest::ReadBytes(path), content) << "an existing key is never rewritten: " << c.Stored;
  }
  // No key: 30, written back at the end of [System].
  kavtest::WriteBytes(path, "[System]\r\nOther=1\r\n[HotKey]\r\nComPort=COM3\r\n");
  EXPECT_EQ(TIniFileFunc::GetLogKeepDay(), 30);
  EXPECT_EQ(kavtest::ReadBytes(path), "[System]\r\nOther=1\r\nLogKeepDay=30\r\n[HotKey]\r\nComPort=COM3\r\n");
  // An empty [System] header counts as missing; the key goes into it.
  kavtest::WriteBytes(path, "[System]\r\n");
  EXPECT_EQ(TIniFileFunc::GetLogKeepDay(), 30);
  EXPECT_EQ(kavtest::ReadBytes(path), "[System]\r\nLogKeepDay=30\r\n");
}

TEST(IniFileFunc, LogKeepDayOnAFileThatCannotBeWritten) {
  TTempDir dir;
  // The folder is missing: the write-back fails quietly, the default is used.
  {
    const TSettingsPath settings(dir / L"missing\\k.ini");
    EXPECT_EQ(TIniFileFunc::GetLogKeepDay(), 30);
  }
  const std::wstring path = dir / L"held.ini";
  kavtest::WriteBytes(path, "[HotKey]\r\nComPort=COM3\r\n");
  const TSettingsPath settings(path);
  {
    const kavtest::THeldFile held(path);
    ASSERT_TRUE(held.Held());
    EXPECT_EQ(TIniFileFunc::GetLogKeepDay(), 30);
  }
  EXPECT_EQ(kavtest::ReadBytes(path), "[HotKey]\r\nComPort=COM3\r\n");
}
