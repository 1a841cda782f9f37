#include "app/core/RemoteCommand.h"

#include <cstring>

#include "common/core/PathRules.h"
#include "common/core/TextUtil.h"

namespace kav {

namespace {

constexpr uint32_t KFormat = 1;
constexpr std::size_t KCommandSize = 12;
constexpr std::size_t KStatusHeaderSize = 16;

struct TCommandWord {
  const wchar_t* Word;
  TRemoteCommandKind Kind;
};
constexpr TCommandWord KCommandWords[] = {
    {L"/power", TRemoteCommandKind::Power},   {L"/blackout", TRemoteCommandKind::Blackout},
    {L"/input", TRemoteCommandKind::Input},   {L"/hotkey", TRemoteCommandKind::HotKey},
    {L"/status", TRemoteCommandKind::Status}, {L"/exit", TRemoteCommandKind::Exit},
};

std::optional<TRemoteCommandKind> CommandWord(const std::wstring& Arg) {
  for (const auto& w : KCommandWords)
    if (SameTextAscii(Arg, w.Word)) return w.Kind;
  return std::nullopt;
}

// Commands that take no value.
bool TakesNoValue(TRemoteCommandKind Kind) {
  return Kind == TRemoteCommandKind::Status || Kind == TRemoteCommandKind::Exit;
}

// The value after a command word; nothing when it is not one the word takes.
std::optional<int32_t> CommandValue(TRemoteCommandKind Kind, const std::wstring& Text) {
  if (Kind == TRemoteCommandKind::Input) {
    // One digit: "02", "+2" or a full-width "２" are typing slips, not inputs.
    if (Text.size() == 1 && Text[0] >= L'1' && Text[0] <= L'8') return static_cast<int32_t>(Text[0] - L'0');
    return std::nullopt;
  }
  if (SameTextAscii(Text, L"off")) return KRemoteOff;
  if (SameTextAscii(Text, L"on")) return KRemoteOn;
  if (Kind != TRemoteCommandKind::HotKey && SameTextAscii(Text, L"toggle")) return KRemoteToggle;
  return std::nullopt;
}

void PutU32(TRemoteBytes& Out, uint32_t V) {
  for (int i = 0; i < 4; ++i) Out.push_back(static_cast<uint8_t>(V >> (8 * i)));
}

uint32_t GetU32(const uint8_t* P) {
  return static_cast<uint32_t>(P[0]) | static_cast<uint32_t>(P[1]) << 8 | static_cast<uint32_t>(P[2]) << 16 |
         static_cast<uint32_t>(P[3]) << 24;
}

// A port name the status line can carry: no control characters, no blanks
// (they would split the line's fields), at most KRemotePortMaxBytes.
bool IsCarriablePort(const std::string& Utf8) {
  if (Utf8.size() > KRemotePortMaxBytes) return false;
  for (const unsigned char c : Utf8)
    if (c <= 0x20 || c == 0x7F) return false;
  return true;
}

const wchar_t* OnOff(bool V) { return V ? L"on" : L"off"; }

} // namespace

bool IsValidRemoteCommand(const TRemoteCommand& Command) noexcept {
  switch (Command.Kind) {
  case TRemoteCommandKind::Power:
  case TRemoteCommandKind::Blackout:
    return Command.Value >= KRemoteOff && Command.Value <= KRemoteToggle;
  case TRemoteCommandKind::Input:
    return Command.Value >= 1 && Command.Value <= 8;
  case TRemoteCommandKind::HotKey:
    return Command.Value == KRemoteOff || Command.Value == KRemoteOn;
  case TRemoteCommandKind::Status:
  case TRemoteCommandKind::Exit:
    return Command.Value == 0;
  }
  return false;
}

TRemoteCommandLine ParseRemoteCommandLine(const std::vector<std::wstring>& Args) {
  TRemoteCommandLine result;
  bool command = false;
  bool bad = false;
  bool strayText = false;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::wstring& arg = Args[i];
    if (SameTextAscii(arg, L"/debug") || SameTextAscii(arg, L"/nonio")) continue;
    if (SameTextAscii(arg, L"/HANDLE")) {
      ++i; // its value, whatever it looks like
      continue;
    }
    const auto kind = CommandWord(arg);
    if (!kind) {
      strayText = true;
      continue;
    }
    if (command) bad = true; // one command per start
    command = true;
    result.Command = TRemoteCommand{*kind, 0};
    if (TakesNoValue(*kind)) continue;
    const auto value = (i + 1 < Args.size()) ? CommandValue(*kind, Args[i + 1]) : std::nullopt;
    if (!value) {
      bad = true;
      continue; // the argument after it is looked at on its own
    }
    result.Command.Value = *value;
    ++i;
  }
  if (!command) return TRemoteCommandLine{};
  result.Kind = (bad || strayText) ? TRemoteCommandLine::TKind::Malformed : TRemoteCommandLine::TKind::Command;
  if (result.Kind == TRemoteCommandLine::TKind::Malformed) result.Command = TRemoteCommand{};
  return result;
}

std::vector<std::wstring> ResidentStartArguments(const std::vector<std::wstring>& Args) {
  std::vector<std::wstring> kept;
  for (const auto& arg : Args)
    if (SameTextAscii(arg, L"/debug") || SameTextAscii(arg, L"/nonio")) kept.push_back(arg);
  return kept;
}

TRemoteBytes EncodeRemoteCommand(const TRemoteCommand& Command) {
  TRemoteBytes out;
  out.reserve(KCommandSize);
  PutU32(out, KFormat);
  PutU32(out, static_cast<uint32_t>(Command.Kind));
  PutU32(out, static_cast<uint32_t>(Command.Value));
  return out;
}

std::optional<TRemoteCommand> DecodeRemoteCommand(const void* Data, std::size_t Size) {
  if (Data == nullptr || Size != KCommandSize) return std::nullopt;
  const auto* p = static_cast<const uint8_t*>(Data);
  if (GetU32(p) != KFormat) return std::nullopt;
  const uint32_t kind = GetU32(p + 4);
  if (kind < static_cast<uint32_t>(TRemoteCommandKind::Power) || kind > static_cast<uint32_t>(TRemoteCommandKind::Exit))
    return std::nullopt;
  const TRemoteCommand command{static_cast<TRemoteCommandKind>(kind), static_cast<int32_t>(GetU32(p + 8))};
  if (!IsValidRemoteCommand(command)) return std::nullopt;
  return command;
}

TRemoteBytes EncodeRemoteStatus(const TRemoteStatus& Status) {
  std::string port = ToUtf8(Status.Port);
  if (!IsCarriablePort(port)) port.clear();
  TRemoteBytes out;
  out.reserve(KStatusHeaderSize + port.size());
  PutU32(out, KFormat);
  out.push_back(Status.Power ? 1 : 0);
  out.push_back(Status.Blackout ? 1 : 0);
  out.push_back(Status.HotKey ? 1 : 0);
  out.push_back(0);
  PutU32(out, static_cast<uint32_t>(Status.Input));
  PutU32(out, static_cast<uint32_t>(port.size()));
  out.insert(out.end(), port.begin(), port.end());
  return out;
}

std::optional<TRemoteStatus> DecodeRemoteStatus(const void* Data, std::size_t Size) {
  if (Data == nullptr || Size < KStatusHeaderSize) return std::nullopt;
  const auto* p = static_cast<const uint8_t*>(Data);
  if (GetU32(p) != KFormat) return std::nullopt;
  for (int i = 4; i < 7; ++i)
    if (p[i] > 1) return std::nullopt;
  if (p[7] != 0) return std::nullopt;
  const uint32_t portBytes = GetU32(p + 12);
  if (portBytes > KRemotePortMaxBytes || Size != KStatusHeaderSize + portBytes) return std::nullopt;
  const std::string port(reinterpret_cast<const char*>(p + KStatusHeaderSize), portBytes);
  if (!IsCarriablePort(port)) return std::nullopt;
  TRemoteStatus status;
  status.Port = FromUtf8(port);
  if (ToUtf8(status.Port) != port) return std::nullopt; // not UTF-8
  status.Power = p[4] != 0;
  status.Blackout = p[5] != 0;
  status.HotKey = p[6] != 0;
  status.Input = static_cast<int32_t>(GetU32(p + 8));
  return status;
}

std::wstring FormatRemoteStatusLine(const TRemoteStatus& Status) {
  return std::wstring(L"power=") + OnOff(Status.Power) + L" blackout=" + OnOff(Status.Blackout) +
         L" input=" + std::to_wstring(Status.Input) + L" hotkey=" + OnOff(Status.HotKey) + L" port=" + Status.Port;
}

THotKeyActionPlan PlanRemoteCommand(const TRemoteCommand& Command, const TAv90RStatus& Stat,
                                    bool PowerUpOnHotKeyCtrl) noexcept {
  // The table position of the matching hot key: 0 power, 1 blackout, 2..9 inputs.
  int index = -1;
  switch (Command.Kind) {
  case TRemoteCommandKind::Power: index = 0; break;
  case TRemoteCommandKind::Blackout: index = 1; break;
  case TRemoteCommandKind::Input: index = Command.Value + 1; break;
  case TRemoteCommandKind::HotKey:
  case TRemoteCommandKind::Status:
  case TRemoteCommandKind::Exit: return THotKeyActionPlan{};
  }
  if (!IsValidRemoteCommand(Command)) return THotKeyActionPlan{};
  THotKeyActionPlan plan = PlanHotKeyAction(index, Stat, PowerUpOnHotKeyCtrl);
  if (Command.Kind != TRemoteCommandKind::Input && Command.Value != KRemoteToggle) plan.Stat = Command.Value == KRemoteOn;
  return plan;
}

int RemoteExitCode(TRemoteAnswer Answer) noexcept {
  switch (Answer) {
  case TRemoteAnswer::Done: return KRemoteExitDone;
  case TRemoteAnswer::Busy:
  case TRemoteAnswer::Starting: return KRemoteExitBusy;
  case TRemoteAnswer::NotUnderstood:
  case TRemoteAnswer::NotDone: break;
  }
  return KRemoteExitNotDone;
}

std::optional<int> RemoteExitCodeWithNothingRunning(const TRemoteCommand& Command) noexcept {
  // A start would open the port and might power the switcher up: neither a
  // question nor an ending is worth that.
  if (Command.Kind == TRemoteCommandKind::Status) return KRemoteExitNotDone;
  if (Command.Kind == TRemoteCommandKind::Exit) return KRemoteExitDone;
  return std::nullopt;
}

std::wstring RemoteUsageText(const std::wstring& ExeFileName, const std::wstring& ModelName) {
  // Each command on its own line with its meaning indented below it: a
  // message box's proportional font cannot line up columns.
  return L"コマンドラインの指定が正しくありません。\r\n"
         L"\r\n"
         L"使い方：" + ExeFileName + L" コマンド\r\n"
         L"コマンドは次のうち1つだけ指定します（大文字と小文字は区別しません）。\r\n"
         L"\r\n"
         L"/power on | off | toggle\r\n"
         L"\u3000" + ModelName + L"の電源を入れる／切る／切り替える\r\n"
         L"/blackout on | off | toggle\r\n"
         L"\u3000ブラックアウトを入れる／切る／切り替える\r\n"
         L"/input 1\uFF5E8\r\n"
         L"\u3000入力ソースを選ぶ\r\n"
         L"/hotkey on | off\r\n"
         L"\u3000ホットキー制御を有効／無効にする\r\n"
         L"/status\r\n"
         L"\u3000現在の状態を1行で出力する\r\n"
         L"/exit\r\n"
         L"\u3000常駐しているソフトを終了する（終了するまで待つ）\r\n"
         L"\r\n"
         L"常駐していないときは、起動してからコマンドを実行します（/status と /exit を除く）。\r\n"
         L"\r\n"
         L"終了コード：\r\n"
         L"0\u3000実行した（/status は状態を出力した、/exit は終了した）\r\n"
         L"1\u3000実行できなかった（COMポートが開けない など）\r\n"
         L"2\u3000コマンドラインの指定が正しくない\r\n"
         L"3\u3000設定画面やメッセージを表示中のため、何もしなかった";
}

} // namespace kav
