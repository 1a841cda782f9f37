#pragma once
// Every text the resident program shows or logs, in one place, exactly as the
// user sees it. Wide text; the Japanese is used verbatim.
#include <cstdint>
#include <string>

namespace kav::AppText {

// Port error box (hot-key power commands, start-up, power-down at exit).
inline constexpr wchar_t PortError[] = L"COMポートが開けません。\r\n接続、または設定を確認してください。";
// Caption of the box for a program error during a hot-key action.
inline constexpr wchar_t ErrorCaption[] = L"エラー";
// Caption of the hot-key question asked on behalf of a dialog.
inline constexpr wchar_t ConfirmCaption[] = L"確認";
// Question before the settings dialog while hot keys are on.
inline constexpr wchar_t EnvSettingQuestion[] = L"ホットキー制御を無効にして、\r\n環境設定を起動しますか？";

// Status window captions (the gap is U+3000 followed by three U+30FB).
inline constexpr wchar_t LabelHotKeyEnabled[] = L"ホットキー制御\u3000\u30FB\u30FB\u30FB";
inline constexpr wchar_t LabelPower[] = L"KTX-AV90R電源\u3000\u30FB\u30FB\u30FB";
inline constexpr wchar_t LabelBlackout[] = L"ブラックアウト\u3000\u30FB\u30FB\u30FB";
inline constexpr wchar_t LabelSelChannel[] = L"選択中の入力ソース\u3000\u30FB\u30FB\u30FB";
// Value of the input label before the switcher has reported anything.
inline constexpr wchar_t InitialSelChannel[] = L"1";

// Tray menu captions.
inline constexpr wchar_t MenuHotKeyEnabled[] = L"ホットキー制御(&H)";
inline constexpr wchar_t MenuEnvSetting[] = L"環境設定(&S)...";
inline constexpr wchar_t MenuWindowVisible[] = L"ウィンドウ表示(&W)";
inline constexpr wchar_t MenuVersion[] = L"バージョン情報(&A)...";
inline constexpr wchar_t MenuTerminate[] = L"終了(&X)";

// Log lines of one run.
inline constexpr wchar_t LogStarted[] = L"起動";
inline constexpr wchar_t LogTerminated[] = L"終了";

// "有効"/"無効": the state of hot-key control shown in its label.
const wchar_t* HotKeyStateText(bool Enabled) noexcept;
// "有効" while off, "無効" while on: what the question offers to switch to.
const wchar_t* HotKeyQuestionWord(bool CurrentlyEnabled) noexcept;
// "ON"/"OFF" for the power and blackout labels.
const wchar_t* OnOffText(bool Stat) noexcept;
// The input label: the number in decimal, minus sign when negative.
std::wstring SelChannelText(int32_t Channel);

// "ホットキーによる入力ソース選択を%sにしますか？" for the current state.
std::wstring HotKeyEnableQuestion(bool CurrentlyEnabled);
// "%sが押されました": debug trace of one recognised press.
std::wstring HotKeyPressedTrace(const std::wstring& FuncAndText);
// "%sと接続しているCOMポートを選択してください。" with the model name.
std::wstring SelectComPortPrompt(const std::wstring& ModelName);
// Log line of a start whose port another signed-in account's instance holds:
// "<port>は別のセッションで使用中のため、開きませんでした".
std::wstring PortInUseElsewhereLog(const std::wstring& Port);
// The first log line: "起動準備, コンピューター名：<name>, IPアドレス：<address>".
std::wstring StartupPreparationLog(const std::wstring& ComputerName, const std::wstring& IPAddress);

// Replaces the first "%s" of Pattern with Arg (the pattern is used as is when it has none).
std::wstring FormatText(const std::wstring& Pattern, const std::wstring& Arg);

} // namespace kav::AppText
