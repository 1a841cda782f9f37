// The settings record on real files, and the settings file after a first start.
#include <gtest/gtest.h>

#include <memory>

#include "common/win/KCL_AppData.h"
#include "common/win/KCL_FileOperation.h"
#include "common/win/KCL_IniFileFunc.h"
#include "common/win/IniFile.h"
#include "settings/win/clsEnvSettings.h"
#include "tests/win/support/BoxRecorder.h"
#include "tests/win/support/FileSystem.h"
#include "tests/win/support/HotKeyTable.h"

using namespace kav;
using kavtest::TSettingsPath;
using kavtest::TTempDir;

namespace {

// Expects the record's six values, in the order the file stores them.
void ExpectRecord(const TEnvSettings& s, const std::wstring& ComPort, bool PowerUpOnAppStart,
                  bool PowerDownOffAppStart, bool HotKeyEnableOnAppStart, bool PowerUpOnHotKeyCtrl, bool WindowVisible) {
  EXPECT_EQ(s.ComPort(), ComPort);
  EXPECT_EQ(s.PowerUpOnAppStart(), PowerUpOnAppStart);
  EXPECT_EQ(s.PowerDownOffAppStart(), PowerDownOffAppStart);
  EXPECT_EQ(s.HotKeyEnableOnAppStart(), HotKeyEnableOnAppStart);
  EXPECT_EQ(s.PowerUpOnHotKeyCtrl(), PowerUpOnHotKeyCtrl);
  EXPECT_EQ(s.WindowVisible(), WindowVisible);
}

} // namespace

TEST(EnvSettings, MissingFileLoadsDefaultsAndDestructionSavesAllSix) {
  TTempDir dir;
  const std::wstring path = dir / L"data folder\\KAV.ini";
  const TSettingsPath settings(path);
  {
    TEnvSettings s;
    ExpectRecord(s, L"", false, false, true, true, true); // the defaults
    EXPECT_FALSE(kavtest::FileExists(path));  // loading writes nothing
  }
  // Save made the folder and the file, and wrote every key in order.
  EXPECT_EQ(kavtest::ReadBytes(path),
            "[HotKey]\r\nComPort=\r\nPowerUpOnAppStart=0\r\nPowerDownOffAppStart=0\r\n"
            "HotKeyEnableOnAppStart=1\r\nPowerUpOnHotKeyCtrl=1\r\nWindowVisible=1\r\n");
}

TEST(EnvSettings, RoundTripAndHandEditedValues) {
  TTempDir dir;
  const std::wstring path = dir / L"KAV.ini";
  const TSettingsPath settings(path);
  {
    TEnvSettings s;
    s.SetComPort(L"COM12");
    s.SetPowerUpOnAppStart(true);
    s.SetPowerDownOffAppStart(true);
    s.SetHotKeyEnableOnAppStart(false);
    s.SetPowerUpOnHotKeyCtrl(false);
    s.SetWindowVisible(false);
    s.Save();
  }
  {
    const TEnvSettings s;
    ExpectRecord(s, L"COM12", true, true, false, false, false);
  }
  kavtest::WriteBytes(path, "[HotKey]\r\nComPort=\r\nWindowVisible=2\r\nPowerUpOnAppStart=no\r\n"
                            "HotKeyEnableOnAppStart=abc\r\nPowerUpOnHotKeyCtrl=0x0\r\n");
  TEnvSettings s;
  EXPECT_EQ(s.ComPort(), L"");
  EXPECT_TRUE(s.WindowVisible());
  EXPECT_FALSE(s.PowerUpOnAppStart());
  EXPECT_TRUE(s.HotKeyEnableOnAppStart());
  EXPECT_FALSE(s.PowerUpOnHotKeyCtrl());
  // Load again sees another program's edit.
  kavtest::WriteBytes(path, "[HotKey]\r\nComPort=COM3\r\n");
  s.Load();
  EXPECT_EQ(s.ComPort(), L"COM3");
  EXPECT_TRUE(s.PowerUpOnHotKeyCtrl());
}

TEST(EnvSettings, RefusedSaveThrowsAndDestructionReportsIt) {
  TTempDir dir;
  const std::wstring path = dir / L"held.ini";
  kavtest::WriteBytes(path, "[HotKey]\r\nComPort=COM3\r\n");
  const TSettingsPath settings(path);
  std::vector<std::wstring> reported;
  auto previous = SetIniWriteErrorHandler([&](const EIniWriteError& e) { reported.push_back(e.Message()); });
  std::unique_ptr<kavtest::THeldFile> held;  // outlives the record below
  {
    TEnvSettings s;
    EXPECT_EQ(s.ComPort(), L"COM3");
    s.SetComPort(L"COM4");
    held = std::make_unique<kavtest::THeldFile>(path);  // another program holds the file
    ASSERT_TRUE(held->Held());
    try {
      s.Save();
      ADD_FAILURE() << "no error";
    } catch (const EIniWriteError& e) {
      EXPECT_EQ(e.Message(), path + L" に書き込めません");
    }
  }
  held.reset();
  ASSERT_EQ(reported.size(), 1u);  // from the destructor
  EXPECT_EQ(reported[0], path + L" に書き込めません");
  SetIniWriteErrorHandler(previous);
  EXPECT_EQ(kavtest::ReadBytes(path), "[HotKey]\r\nComPort=COM3\r\n");

  // A file that cannot be created is reported the same way.
  const TSettingsPath nowhere(dir / L"blocker\\x.ini");
  kavtest::WriteBytes(dir / L"blocker", "a file, not a folder");
  TEnvSettings t;
  EXPECT_THROW(t.Save(), EIniWriteError);
  // Without a handler the error is shown in a message box.
  kavtest::TBox shown{};
  {
    kavtest::TBoxRecorder boxes;
    ReportIniWriteError(EIniWriteError(dir / L"blocker\\x.ini"));
    if (!boxes.Boxes.empty()) shown = boxes.Boxes.back();
  }
  EXPECT_EQ(shown.Text, (dir / L"blocker\\x.ini") + L" に書き込めません");
  EXPECT_TRUE(shown.Flags & MB_ICONERROR);
  // The destructor of t reports once more; keep that quiet.
  SetIniWriteErrorHandler([](const EIniWriteError&) {});
}

TEST(EnvSettings, FirstStartSettingsFileByteForByte) {
  ASSERT_EQ(GetACP(), 932u) << "run under LANG=ja_JP.UTF-8";
  TTempDir dir;
  const std::wstring path = dir / L"KOVA\\KAV90R_HotKeyController\\KAV90R_HotKeyController.ini";
  const TSettingsPath settings(path);
  TFileOperation::CreateFolder(TFileOperation::GetFileDir(path), true);
  // Start-up: retention read (and written back), settings loaded.
  EXPECT_EQ(TIniFileFunc::GetLogKeepDay(), 30);
  auto env = std::make_unique<TEnvSettings>();
  // The settings dialog stores COM3.
  env->SetComPort(L"COM3");
  env->Save();
  // The hot-key table saves its ten new sections.
  const auto& names = kavtest::KFuncNames;
  const int32_t values[10] = {589, 578, 112, 113, 114, 115, 116, 117, 118, 119};
  {
    TIniFile ini(path);
    for (int i = 0; i < 10; ++i) {
      const std::wstring section = L"HotKey" + std::to_wstring(i);
      ini.WriteInteger(section, L"HotKeyDefault", values[i]);
      ini.WriteInteger(section, L"HotKey", values[i]);
      ini.WriteString(section, L"HotKeyFunc", names[i]);
    }
  }
  env.reset();  // saves once more at the end; nothing changes
  std::string expected =
      "[System]\r\nLogKeepDay=30\r\n"
      "[HotKey]\r\nComPort=COM3\r\nPowerUpOnAppStart=0\r\nPowerDownOffAppStart=0\r\n"
      "HotKeyEnableOnAppStart=1\r\nPowerUpOnHotKeyCtrl=1\r\nWindowVisible=1\r\n";
  for (int i = 0; i < 10; ++i) {
    const std::string v = std::to_string(values[i]);
    expected += "[HotKey" + std::to_string(i) + "]\r\nHotKeyDefault=" + v + "\r\nHotKey=" + v + "\r\nHotKeyFunc=" +
                kavtest::ToCodePage(names[i], 932) + "\r\n";
  }
  EXPECT_EQ(kavtest::ReadBytes(path), expected);
  // Spot-check the Shift-JIS bytes of 電源制御 themselves.
  EXPECT_NE(kavtest::ReadBytes(path).find("HotKeyFunc=\x93\x64\x8C\xB9\x90\xA7\x8C\xE4\r\n"), std::string::npos);
}
