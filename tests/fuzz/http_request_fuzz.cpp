// The network remote's request rules under arbitrary requests. The first
// byte picks the settings (loopback without key, loopback with key, network
// with key); the rest is split at '\n' into method, target, Host, Origin and
// Authorization (a field left out is absent). Checked:
//   * only the statuses the API documents come out;
//   * a command is only ever a POST of a valid command (never the status)
//     under /api/, and routes again from its own canonical path;
//   * nothing but the page passes without the key when a key is set;
//   * nothing passes with a foreign Origin, or on loopback with a Host that
//     is not the server's own name;
//   * the JSON text of a port name escapes every quote and control byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/core/HttpApi.h"
#include "common/core/TextUtil.h"

#include "tests/fuzz/FuzzCheck.h"

namespace {

using kav::fuzz::Expect;

std::string Lower(std::string S) {
  for (char& c : S)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return S;
}

std::string CanonicalPath(const kav::TRemoteCommand& C) {
  static const char* const KWords[] = {"", "power", "blackout", "input", "hotkey"};
  static const char* const KValues[] = {"off", "on", "toggle"};
  const auto kind = static_cast<int>(C.Kind);
  return std::string("/api/") + KWords[kind] + "/" +
         (C.Kind == kav::TRemoteCommandKind::Input ? std::to_string(C.Value) : KValues[C.Value]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  kav::THttpRemoteSettings settings;
  settings.Port = 8080;
  settings.Address = Data[0] % 3 == 2 ? "0.0.0.0" : "127.0.0.1";
  settings.Loopback = Data[0] % 3 != 2;
  if (Data[0] % 3 != 0) settings.Key = "k3y";

  std::vector<std::string> fields(1);
  for (std::size_t i = 1; i < Size; ++i) {
    if (Data[i] == '\n') fields.emplace_back();
    else fields.back() += static_cast<char>(Data[i]);
  }
  kav::THttpRequest request;
  request.Method = fields[0];
  if (fields.size() > 1) request.Target = fields[1];
  if (fields.size() > 2) request.Host = fields[2];
  if (fields.size() > 3) request.Origin = fields[3];
  if (fields.size() > 4) request.Authorization = fields[4];
  request.Repeated = fields.size() > 5;

  const kav::THttpAction action = kav::RouteHttpRequest(settings, request);
  if (action.Kind == kav::THttpAction::TKind::Reject) {
    const int s = action.Status;
    Expect(s == 400 || s == 401 || s == 403 || s == 404 || s == 405, "undocumented status");
    Expect((s == 405) == (action.Allow != nullptr), "405 without Allow or Allow elsewhere");
  } else {
    Expect(!request.Repeated && request.Host, "a malformed request passed");
    const std::string host = Lower(*request.Host);
    Expect(!request.Origin || Lower(*request.Origin) == "http://" + host, "a foreign origin passed");
    Expect(!settings.Loopback || host == "127.0.0.1:8080" || host == "localhost:8080",
           "a foreign host passed on loopback");
    const std::string path = request.Target.substr(0, request.Target.find('?'));
    if (action.Kind == kav::THttpAction::TKind::Page) {
      Expect(request.Method == "GET" && path == "/", "the page for something else");
    } else {
      Expect(settings.Key.empty() ||
                 (request.Authorization && Lower(request.Authorization->substr(0, 7)) == "bearer " &&
                  request.Authorization->substr(7) == settings.Key),
             "passed without the key");
    }
    if (action.Kind == kav::THttpAction::TKind::Command) {
      Expect(request.Method == "POST" && path.rfind("/api/", 0) == 0, "a command that is not a POST under /api/");
      Expect(kav::IsValidRemoteCommand(action.Command) && action.Command.Kind != kav::TRemoteCommandKind::Status,
             "an invalid command");
      kav::THttpRequest canonical = request;
      canonical.Target = CanonicalPath(action.Command);
      const kav::THttpAction again = kav::RouteHttpRequest(settings, canonical);
      Expect(again.Kind == kav::THttpAction::TKind::Command && again.Command == action.Command,
             "the command's own path routes elsewhere");
    }
  }

  kav::TRemoteStatus status;
  status.Port = kav::FromUtf8(request.Method);
  const std::string json = kav::HttpStatusJson(status);
  const std::string port = json.substr(json.find("\"port\":\"") + 8);
  for (std::size_t i = 0; i + 2 < port.size(); ++i) {
    const auto c = static_cast<unsigned char>(port[i]);
    Expect(c >= 0x20 && c != 0x7F, "a control byte in the JSON text");
    if (c == '\\') ++i; // the escaped character
    else Expect(c != '"', "an unescaped quote in the JSON text");
  }
  return 0;
}
