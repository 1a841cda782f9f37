// Loading and saving the hot-key table on real settings files.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/win/KCL_AppData.h"
#include "hotkeys/win/clsHotKeyInfo.h"
#include "common/win/IniFile.h"
#include "tests/win/support/FileSystem.h"
#include "tests/win/support/HotKeyTable.h"

using namespace kav;
using namespace kavtest;

namespace {

class HotKeyIni : public ::testing::Test {
protected:
  void SetUp() override {
    // The data folder does not exist until something saves.
    FFolder = FTemp / L"data\\";
    SettingsIniFile = FFolder + L"KAV90R_HotKeyController.ini";
    FOldReport = SetIniWriteErrorHandler([this](const EIniWriteError& e) { Reported.push_back(e.Message()); });
  }
  void TearDown() override { SetIniWriteErrorHandler(FOldReport); }
  // Writes the file as another editor would, in the system's ANSI code page.
  void WriteFile(const std::wstring& content) {
    CreateDirectoryW(FFolder.c_str(), nullptr);
    WriteBytes(SettingsIniFile, ToCodePage(content, CP_ACP));
  }
  // The file's non-empty lines.
  std::vector<std::wstring> ReadLines() {
    std::wstringstream text(FromCodePage(ReadBytes(SettingsIniFile), CP_ACP));
    std::vector<std::wstring> lines;
    for (std::wstring line; std::getline(text, line);) {
      if (!line.empty() && line.back() == L'\r') line.pop_back();
      if (!line.empty()) lines.push_back(line);
    }
    return lines;
  }

  TTempDir FTemp{L"kav_hotkeys_ini "};
  std::wstring FFolder;
  std::vector<std::wstring> Reported;
  TIniWriteErrorHandler FOldReport;
};

} // namespace

TEST_F(HotKeyIni, LoadReadsValuesNamesAndDefaultsAndStopsAtTheFirstGap) {
  WriteFile(L"[HotKey]\r\nComPort=COM3\r\n"
            L"[HotKey0]\r\nHotKeyDefault=589\r\nHotKey=0x24D\r\nHotKeyFunc=電源制御\r\n"
            L"[HotKey1]\r\nHotKeyFunc=ブラックアウト\r\n"           // no HotKey key: 0xFFFF
            L"[HotKey2]\r\nHotKey=65648\r\nHotKeyDefault=1234\r\n"  // 0x10070: cut to F1
            L"[HotKey3]\r\nHotKey=$0641\r\nHotKeyDefault=abc\r\n"
            L"[HotKey5]\r\nHotKey=114\r\nHotKeyFunc=入力4\r\n");
  THotKeyInfoList list(nullptr);
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[0].HotKey(), 589);
  EXPECT_EQ(list[0].HotKeyText(), L"Ctrl + M");
  EXPECT_EQ(list[0].GetHotKeyFuncAndText(), L"電源制御（Ctrl + M）");
  EXPECT_EQ(list[0].HotKeyDefault(), 589);
  EXPECT_EQ(list[0].HotKeyID(), 0);
  EXPECT_EQ(list[1].HotKey(), 0xFFFF);
  EXPECT_EQ(list[1].HotKeyFunc(), L"ブラックアウト");
  EXPECT_EQ(list[1].HotKeyDefault(), 0x0242);  // missing: the entry's default
  EXPECT_EQ(list[2].HotKey(), 0x0070);
  EXPECT_EQ(list[2].HotKeyText(), L"F1");
  EXPECT_EQ(list[2].HotKeyFunc(), L"");
  EXPECT_EQ(list[2].HotKeyDefault(), 1234);
  EXPECT_EQ(list[3].HotKey(), 0x0641);
  EXPECT_EQ(list[3].HotKeyText(), L"Alt + Ctrl + A");
  EXPECT_EQ(list[3].HotKeyDefault(), 0x0071);  // does not convert: the entry's default
}

TEST_F(HotKeyIni, AnEmptySectionHeaderCountsAsMissing) {
  WriteFile(L"[HotKey0]\r\nHotKey=589\r\n[HotKey1]\r\n[HotKey2]\r\nHotKey=113\r\n");
  THotKeyInfoList list(nullptr);
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(HotKeyIni, NoFileGivesAnEmptyTableAndDestructionCreatesTheFile) {
  {
    THotKeyInfoList list(nullptr);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(GetFileAttributesW(FFolder.c_str()), INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_NE(GetFileAttributesW(SettingsIniFile.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(ReadLines().empty());
  EXPECT_TRUE(Reported.empty());
}

TEST_F(HotKeyIni, MoreThanTenSectionsLoadOnlyTen) {
  std::wstring content;
  for (int i = 0; i < 12; ++i)
    content += L"[HotKey" + std::to_wstring(i) + L"]\r\nHotKey=" + std::to_wstring(0x70 + i) + L"\r\n";
  WriteFile(content);
  {
    THotKeyInfoList list(nullptr);
    ASSERT_EQ(list.Count(), 10);
    EXPECT_EQ(list[9].HotKey(), 0x79);
  }
  // Saving ten entries leaves the sections beyond them alone.
  TIniFile ini(SettingsIniFile);
  EXPECT_EQ(ini.ReadInteger(L"HotKey11", L"HotKey", 0), 0x7B);
  EXPECT_FALSE(ini.ValueExists(L"HotKey11", L"HotKeyDefault"));
}

TEST_F(HotKeyIni, FirstSaveWritesTheTenSectionsInOrder) {
  {
    THotKeyInfoList list(nullptr);
    AddDefaultHotKeys(list);
    list.Save();
  }
  std::vector<std::wstring> expected;
  for (std::size_t i = 0; i < HotKeyCount; ++i) {
    const std::wstring v = std::to_wstring(DefaultHotKeyValues[i]);
    expected.push_back(L"[HotKey" + std::to_wstring(i) + L"]");
    expected.push_back(L"HotKeyDefault=" + v);
    expected.push_back(L"HotKey=" + v);
    expected.push_back(std::wstring(L"HotKeyFunc=") + KFuncNames[i]);
  }
  EXPECT_EQ(ReadLines(), expected);
  EXPECT_EQ(expected[1], L"HotKeyDefault=589");

  // And it loads back unchanged.
  THotKeyInfoList again(nullptr);
  ASSERT_EQ(again.Count(), 10);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(again[i].HotKey(), DefaultHotKeyValues[i]);
    EXPECT_EQ(again[i].HotKeyFunc(), KFuncNames[i]);
  }
}

TEST_F(HotKeyIni, SaveKeepsAnExistingHotKeyDefaultAndWritesZero) {
  WriteFile(L"[System]\r\nLogKeepDay=30\r\n[HotKey0]\r\nHotKeyDefault=1234\r\nHotKey=589\r\nHotKeyFunc=電源制御\r\n");
  {
    THotKeyInfoList list(nullptr);
    ASSERT_EQ(list.Count(), 1);
    // As the settings dialog stores a new table: cleared and refilled.
    list.Clear();
    list.AddItem(0x0641, L"電源制御");
    list.AddItem(0, L"ブラックアウト");
    list.Save();
    TIniFile ini(SettingsIniFile);
    EXPECT_EQ(ini.ReadInteger(L"HotKey0", L"HotKeyDefault", 0), 1234);
    EXPECT_EQ(ini.ReadInteger(L"HotKey0", L"HotKey", 0), 0x0641);
    EXPECT_EQ(ini.ReadInteger(L"HotKey1", L"HotKeyDefault", 0), 0x0242);
    EXPECT_EQ(ini.ReadString(L"HotKey1", L"HotKey", L""), L"0");
    // Changed after the save: the destructor writes it.
    list[1].SetHotKey(0x0242);
    list[1].SetHotKeyDefault(0x0070);  // not written: the section exists now
  }
  TIniFile ini(SettingsIniFile);
  EXPECT_EQ(ini.ReadInteger(L"HotKey1", L"HotKey", 0), 0x0242);
  EXPECT_EQ(ini.ReadInteger(L"HotKey1", L"HotKeyDefault", 0), 0x0242);
  EXPECT_EQ(ini.ReadInteger(L"System", L"LogKeepDay", 0), 30);
  const auto lines = ReadLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[3], L"HotKeyDefault=1234");  // still first in its section
}

TEST_F(HotKeyIni, RefusedWriteThrowsFromSaveAndIsReportedFromTheDestructor) {
  WriteFile(L"[HotKey0]\r\nHotKey=589\r\n");
  std::unique_ptr<THeldFile> lock;
  {
    THotKeyInfoList list(nullptr);
    ASSERT_EQ(list.Count(), 1);
    list[0].SetHotKey(0x0242);
    // Another program holds the file open without sharing it: every write is refused.
    lock = std::make_unique<THeldFile>(SettingsIniFile);
    ASSERT_TRUE(lock->Held());
    try {
      list.Save();
      ADD_FAILURE() << "no error for a file that cannot be written";
    } catch (const EIniWriteError& e) {
      EXPECT_EQ(e.Message(), TIniFile(SettingsIniFile).FileName() + L" に書き込めません");
    }
    EXPECT_TRUE(Reported.empty());
  }
  lock.reset();
  ASSERT_EQ(Reported.size(), 1u);
  EXPECT_EQ(Reported[0], TIniFile(SettingsIniFile).FileName() + L" に書き込めません");
  EXPECT_EQ(TIniFile(SettingsIniFile).ReadInteger(L"HotKey0", L"HotKey", 0), 589);
}

TEST_F(HotKeyIni, AFileThatCannotBeCreatedIsAWriteError) {
  // The data folder's place is taken by a file: neither folder nor file can be made.
  WriteFile(L"");
  const std::wstring blocker = SettingsIniFile;
  SettingsIniFile = blocker + L"\\KAV90R_HotKeyController.ini";
  {
    THotKeyInfoList list(nullptr);
    list.AddItem(0x024D, L"電源制御");
    EXPECT_THROW(list.Save(), EIniWriteError);
  }
  // The destructor's save meets the same wall and reports it instead of throwing.
  EXPECT_EQ(Reported.size(), 1u);
  SettingsIniFile = blocker;
}
