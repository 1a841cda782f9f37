#include "common/core/CommandLineRules.h"
#include "common/core/PathRules.h"
#include "common/core/TextUtil.h"

#include <gtest/gtest.h>

using namespace kav;

TEST(PathRules, FileBaseNameDropsFolderAndLastExtension) {
  EXPECT_EQ(GetFileBaseName(L"C:\\x\\a.b.exe"), L"a.b");
  EXPECT_EQ(GetFileBaseName(L"C:\\Program Files\\KOVA\\KAV90R_HotKeyController.exe"), L"KAV90R_HotKeyController");
  EXPECT_EQ(GetFileBaseName(L"C:\\x\\noext"), L"noext");
  EXPECT_EQ(GetFileBaseName(L"C:\\dir.d\\noext"), L"noext");  // a dot in the folder is not an extension
  EXPECT_EQ(GetFileBaseName(L"X.exe"), L"X");
  EXPECT_EQ(GetFileBaseName(L"Z:/work/x/制御.exe"), L"制御");
  EXPECT_EQ(GetFileBaseName(L"C:a.exe"), L"a");
  EXPECT_EQ(GetFileBaseName(L""), L"");
}

TEST(PathRules, ExtensionsAndFolders) {
  EXPECT_EQ(ExtractFileExt(L"C:\\Log\\OLD.LOG"), L".LOG");
  EXPECT_EQ(ExtractFileExt(L"C:\\a.b\\c"), L"");
  EXPECT_EQ(ExtractFileName(L"C:\\Log\\a.log"), L"a.log");
  EXPECT_EQ(ExtractFileDirWithDelimiter(L"C:\\ProgramData\\KOVA\\x.ini"), L"C:\\ProgramData\\KOVA\\");
  EXPECT_EQ(ExtractFileDirWithDelimiter(L"C:\\x.ini"), L"C:\\");
  EXPECT_EQ(ExtractFileDirWithDelimiter(L"x.ini"), L"");
  EXPECT_EQ(IncludeTrailingPathDelimiter(L"C:\\ProgramData"), L"C:\\ProgramData\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter(L"C:\\ProgramData\\"), L"C:\\ProgramData\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter(L""), L"");
  EXPECT_EQ(ExcludeTrailingPathDelimiter(L"C:\\Data With Space\\"), L"C:\\Data With Space");
  EXPECT_EQ(ExcludeTrailingPathDelimiter(L"C:\\"), L"C:\\");
  EXPECT_EQ(ExcludeTrailingPathDelimiter(L"C:\\a\\\\"), L"C:\\a");
  EXPECT_TRUE(SameTextAscii(L".LOG", L".log"));
  EXPECT_FALSE(SameTextAscii(L".log", L".lo"));
  EXPECT_FALSE(SameTextAscii(L"ａ", L"a"));
}

TEST(CommandLine, DebugSwitchInAnyCase) {
  for (const wchar_t* sw : {L"/debug", L"/DEBUG", L"/Debug"}) {
    const auto s = ScanCommandLine({sw});
    EXPECT_TRUE(s.Debug) << ToUtf8(sw);
    EXPECT_EQ(s.Handle, L"");
  }
  EXPECT_FALSE(ScanCommandLine({}).Debug);
  EXPECT_FALSE(ScanCommandLine({L"-debug"}).Debug);
  EXPECT_FALSE(ScanCommandLine({L"/debugx"}).Debug);
}

TEST(CommandLine, HandleAndPlainArguments) {
  EXPECT_EQ(ScanCommandLine({L"/handle", L"12"}).Handle, L"12");
  EXPECT_EQ(ScanCommandLine({L"/HANDLE", L"12"}).Handle, L"12");
  // "/HANDLE" last gives empty text.
  EXPECT_EQ(ScanCommandLine({L"abc", L"/HANDLE"}).Handle, L"");
  // The last plain argument wins, and /nonio is not one.
  EXPECT_EQ(ScanCommandLine({L"a", L"b"}).Handle, L"b");
  EXPECT_EQ(ScanCommandLine({L"a", L"/nonio"}).Handle, L"a");
  EXPECT_EQ(ScanCommandLine({L"/NonIO", L"/debug"}).Handle, L"");
  // The argument after /HANDLE is consumed as the handle and scanned again as a plain one.
  const auto s = ScanCommandLine({L"/HANDLE", L"/debug"});
  EXPECT_TRUE(s.Debug);
  EXPECT_EQ(s.Handle, L"/debug");
}
