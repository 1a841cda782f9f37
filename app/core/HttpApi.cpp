#include "app/core/HttpApi.h"

#include <vector>

#include "common/core/TextUtil.h"

namespace kav {

namespace {

char LowerAscii(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

bool SameAscii(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (LowerAscii(A[i]) != LowerAscii(B[i])) return false;
  return true;
}

// Compares every byte whatever the first difference, so the time taken
// tells nothing about how much of a guessed key was right.
bool SameKey(const std::string& Given, const std::string& Key) {
  if (Key.empty()) return false;
  unsigned char diff = Given.size() == Key.size() ? 0 : 1;
  for (std::size_t i = 0; i < Given.size(); ++i)
    diff |= static_cast<unsigned char>(Given[i] ^ Key[i % Key.size()]);
  return diff == 0;
}

bool HasKey(const std::optional<std::string>& Authorization, const std::string& Key) {
  if (!Authorization) return false;
  const std::string& a = *Authorization;
  constexpr std::size_t KSchemeLength = 6; // "Bearer"
  if (a.size() <= KSchemeLength + 1 || !SameAscii(a.substr(0, KSchemeLength), "Bearer") || a[KSchemeLength] != ' ')
    return false;
  return SameKey(a.substr(KSchemeLength + 1), Key);
}

// The Host values that name this server while it listens on loopback: a
// page reached under any other name is a DNS rebinding attempt.
bool IsOwnLoopbackHost(const THttpRemoteSettings& Settings, const std::string& Host) {
  const std::string port = std::to_string(Settings.Port);
  for (const std::string& name : {std::string("127.0.0.1"), std::string("localhost"), Settings.Address}) {
    if (SameAscii(Host, name + ":" + port)) return true;
    if (Settings.Port == 80 && SameAscii(Host, name)) return true;
  }
  return false;
}

// "/api/<word>/<value>" as the command line's own command, or nothing.
std::optional<TRemoteCommand> CommandOfPath(const std::string& Path) {
  constexpr char KPrefix[] = "/api/";
  if (Path.rfind(KPrefix, 0) != 0) return std::nullopt;
  const std::string rest = Path.substr(sizeof KPrefix - 1);
  const std::size_t slash = rest.find('/');
  if (slash == std::string::npos || slash == 0 || rest.find('/', slash + 1) != std::string::npos) return std::nullopt;
  const std::vector<std::wstring> args = {L"/" + FromUtf8(rest.substr(0, slash)), FromUtf8(rest.substr(slash + 1))};
  const TRemoteCommandLine line = ParseRemoteCommandLine(args);
  if (line.Kind != TRemoteCommandLine::TKind::Command) return std::nullopt;
  // Only the switcher and hot-key commands: a command the command line
  // gains later is not on the network until it is added here.
  switch (line.Command.Kind) {
  case TRemoteCommandKind::Power:
  case TRemoteCommandKind::Blackout:
  case TRemoteCommandKind::Input:
  case TRemoteCommandKind::HotKey: return line.Command;
  default: return std::nullopt;
  }
}

THttpAction Reject(int Status, const char* Allow = nullptr) {
  THttpAction action;
  action.Status = Status;
  action.Allow = Allow;
  return action;
}

THttpAction Act(THttpAction::TKind Kind, const std::string& Method, const char* Wanted) {
  if (Method != Wanted) return Reject(405, Wanted);
  THttpAction action;
  action.Kind = Kind;
  action.Status = 200;
  return action;
}

const char* OnOff(bool V) { return V ? "on" : "off"; }

} // namespace

THttpAction RouteHttpRequest(const THttpRemoteSettings& Settings, const THttpRequest& Request) {
  if (Request.Repeated || !Request.Host || Request.Target.empty() || Request.Target[0] != '/') return Reject(400);
  if (Settings.Loopback && !IsOwnLoopbackHost(Settings, *Request.Host)) return Reject(403);
  // A page of another site may send requests here but must not switch the room.
  if (Request.Origin && !SameAscii(*Request.Origin, "http://" + *Request.Host)) return Reject(403);

  const std::string path = Request.Target.substr(0, Request.Target.find('?'));
  // The page holds nothing secret; it asks for the key itself.
  if (path == "/") return Act(THttpAction::TKind::Page, Request.Method, "GET");
  if (!Settings.Key.empty() && !HasKey(Request.Authorization, Settings.Key)) return Reject(401);
  if (path == "/api/status") return Act(THttpAction::TKind::Status, Request.Method, "GET");
  if (path == "/api/events") return Act(THttpAction::TKind::Events, Request.Method, "GET");
  const std::optional<TRemoteCommand> command = CommandOfPath(path);
  if (!command) return Reject(404);
  THttpAction action = Act(THttpAction::TKind::Command, Request.Method, "POST");
  action.Command = *command;
  return action;
}

std::string JsonEscape(const std::string& Text) {
  static constexpr char KHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : Text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\u00";
      out += KHex[u >> 4];
      out += KHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string HttpStatusJson(const TRemoteStatus& Status) {
  return std::string("{\"power\":\"") + OnOff(Status.Power) + "\",\"blackout\":\"" + OnOff(Status.Blackout) +
         "\",\"input\":" + std::to_string(Status.Input) + ",\"hotkey\":\"" + OnOff(Status.HotKey) +
         "\",\"port\":\"" + JsonEscape(ToUtf8(Status.Port)) + "\"}";
}

std::string HttpStatusEvent(const TRemoteStatus& Status) {
  return "event: status\ndata: " + HttpStatusJson(Status) + "\n\n";
}

THttpAnswer HttpCommandAnswer(TRemoteAnswer Answer) {
  switch (Answer) {
  case TRemoteAnswer::Done: return {200, "{\"result\":\"done\"}"};
  case TRemoteAnswer::NotDone: return {503, "{\"result\":\"port error\"}"};
  case TRemoteAnswer::Busy: return {409, "{\"result\":\"busy\"}"};
  case TRemoteAnswer::Starting: return HttpStartingAnswer();
  case TRemoteAnswer::NotUnderstood: break;
  }
  return {500, "{\"result\":\"not understood\"}"};
}

THttpAnswer HttpStartingAnswer() { return {503, "{\"result\":\"starting\"}"}; }

std::string HttpErrorBody(int Status) {
  const char* what = "bad request";
  switch (Status) {
  case 401: what = "unauthorized"; break;
  case 403: what = "forbidden"; break;
  case 404: what = "not found"; break;
  case 405: what = "method not allowed"; break;
  case 413: what = "payload too large"; break;
  default: break;
  }
  return std::string("{\"error\":\"") + what + "\"}";
}

} // namespace kav
