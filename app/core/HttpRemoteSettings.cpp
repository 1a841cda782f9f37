#include "app/core/HttpRemoteSettings.h"

#include <optional>

#include "common/core/TextUtil.h"
#include "common/core/IniValue.h"

namespace kav {

namespace {

constexpr wchar_t KLogPrefix[] = L"HTTPリモート：";
constexpr wchar_t KNotListening[] = L"待ち受けません";

// A dotted IPv4 address, four decimal parts of 0..255 without leading zeros
// (inet_aton would read "010" as octal, a person means ten).
std::optional<std::string> DottedIpv4(const std::wstring& Text) {
  std::string out;
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    const std::size_t start = i;
    int value = 0;
    while (i < Text.size() && Text[i] >= L'0' && Text[i] <= L'9' && i - start < 3) value = value * 10 + (Text[i++] - L'0');
    const std::size_t digits = i - start;
    if (digits == 0 || value > 255 || (digits > 1 && Text[start] == L'0')) return std::nullopt;
    out += std::to_string(value);
    if (++parts < 4) {
      if (i >= Text.size() || Text[i] != L'.') return std::nullopt;
      out += '.';
      ++i;
    }
  }
  if (i != Text.size()) return std::nullopt;
  return out;
}

bool IsKeyChar(wchar_t C) { return C > 0x20 && C < 0x7F; }

THttpRemotePlan Refuse(std::wstring Why) {
  THttpRemotePlan plan;
  plan.Kind = THttpRemotePlan::TKind::Refused;
  plan.LogText = KLogPrefix + Why + KNotListening;
  return plan;
}

std::wstring Endpoint(const THttpRemoteSettings& Settings) {
  return FromUtf8(Settings.Address) + L":" + std::to_wstring(Settings.Port);
}

} // namespace

THttpRemotePlan PlanHttpRemote(const std::wstring& PortText, const std::wstring& AddressText,
                               const std::wstring& KeyText) {
  if (PortText.empty()) return {};
  const std::optional<int32_t> port = ParseIniInteger(PortText);
  if (port == 0) return {};
  if (!port || *port < 0 || *port > 65535)
    return Refuse(L"HttpPort の値「" + PortText + L"」は 0～65535 ではありません。");

  THttpRemoteSettings settings;
  settings.Port = static_cast<uint16_t>(*port);
  const std::wstring address = AddressText.empty() || AddressText == L"localhost" ? KHttpDefaultAddress : AddressText;
  const std::optional<std::string> dotted = DottedIpv4(address);
  if (!dotted) return Refuse(L"HttpAddress の値「" + AddressText + L"」は IPv4 アドレスではありません。");
  settings.Address = *dotted;
  settings.Loopback = settings.Address.rfind("127.", 0) == 0;

  for (const wchar_t c : KeyText)
    if (!IsKeyChar(c)) return Refuse(L"HttpKey には半角の英数字と記号だけが使えます。");
  settings.Key = ToUtf8(KeyText);
  // Anyone on the network could switch the room: a network address needs a key.
  if (!settings.Loopback && settings.Key.empty())
    return Refuse(L"HttpAddress=" + FromUtf8(settings.Address) + L" で待ち受けるには HttpKey（アクセスキー）が必要です。");

  THttpRemotePlan plan;
  plan.Kind = THttpRemotePlan::TKind::Listen;
  plan.Settings = settings;
  return plan;
}

std::wstring HttpListeningLogText(const THttpRemoteSettings& Settings) {
  return KLogPrefix + std::wstring(L"http://") + Endpoint(Settings) + L"/ で待ち受けます" +
         (Settings.Key.empty() ? L"" : L"（アクセスキーあり）");
}

std::wstring HttpListenFailedLogText(const THttpRemoteSettings& Settings, bool InUse, int ErrorCode) {
  const std::wstring why = InUse ? L"ほかのプログラムがポートを使用中です" : L"エラー " + std::to_wstring(ErrorCode);
  return KLogPrefix + Endpoint(Settings) + L" で待ち受けられません（" + why + L"）。" + KNotListening;
}

} // namespace kav
