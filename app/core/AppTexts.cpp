#include "app/core/AppTexts.h"

namespace kav::AppText {

const wchar_t* HotKeyStateText(bool Enabled) noexcept { return Enabled ? L"有効" : L"無効"; }

const wchar_t* HotKeyQuestionWord(bool CurrentlyEnabled) noexcept {
  return CurrentlyEnabled ? L"無効" : L"有効";
}

const wchar_t* OnOffText(bool Stat) noexcept { return Stat ? L"ON" : L"OFF"; }

std::wstring SelChannelText(int32_t Channel) { return std::to_wstring(Channel); }

std::wstring FormatText(const std::wstring& Pattern, const std::wstring& Arg) {
  const auto pos = Pattern.find(L"%s");
  if (pos == std::wstring::npos) return Pattern;
  std::wstring result = Pattern;
  result.replace(pos, 2, Arg);
  return result;
}

std::wstring HotKeyEnableQuestion(bool CurrentlyEnabled) {
  return FormatText(L"ホットキーによる入力ソース選択を%sにしますか？", HotKeyQuestionWord(CurrentlyEnabled));
}

std::wstring HotKeyPressedTrace(const std::wstring& FuncAndText) {
  return FormatText(L"%sが押されました", FuncAndText);
}

std::wstring SelectComPortPrompt(const std::wstring& ModelName) {
  return FormatText(L"%sと接続しているCOMポートを選択してください。", ModelName);
}

std::wstring PortInUseElsewhereLog(const std::wstring& Port) {
  return Port + L"は別のセッションで使用中のため、開きませんでした";
}

std::wstring StartupPreparationLog(const std::wstring& ComputerName, const std::wstring& IPAddress) {
  return L"起動準備, コンピューター名：" + ComputerName + L", IPアドレス：" + IPAddress;
}

} // namespace kav::AppText
