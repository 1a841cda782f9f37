// The network remote's request rules under arbitrary requests. The first
// byte picks the settings (loopback without key, loopback with key, network
// with key); the rest, split at '\n', is method, target, Host, Origin and
// Authorization (a field left out is absent; a sixth makes them repeated).
// Checked: only the documented statuses come out, 405 and only 405 names
// the methods; nothing passes a malformed request, a foreign Origin, or on
// loopback a Host not its own; nothing but the page passes without the key;
// a command is a valid POST under /api/ that routes again from its own
// canonical path; the status JSON escapes every quote and control byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/core/HttpApi.h"
#include "common/core/TextUtil.h"

#include "tests/fuzz/FuzzCheck.h"

namespace {

using kav::fuzz::Expect;
using K = kav::THttpAction::TKind;

std::string Lower(std::string S) {
  for (char& c : S) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return S;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  kav::THttpRemoteSettings settings{8080, Data[0] % 3 == 2 ? "0.0.0.0" : "127.0.0.1", Data[0] % 3 != 2,
                                    Data[0] % 3 ? "k3y" : ""};
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
  const int s = action.Status;
  if (action.Kind == K::Reject) {
    Expect(s == 400 || s == 401 || s == 403 || s == 404 || s == 405, "undocumented status");
    Expect((s == 405) == (action.Allow != nullptr), "405 without Allow or Allow elsewhere");
  } else {
    Expect(!request.Repeated && request.Host, "a malformed request passed");
    const std::string host = Lower(*request.Host);
    Expect(!request.Origin || Lower(*request.Origin) == "http://" + host, "a foreign origin passed");
    Expect(!settings.Loopback || host == "127.0.0.1:8080" || host == "localhost:8080",
           "a foreign host passed on loopback");
    const std::string path = request.Target.substr(0, request.Target.find('?'));
    const auto& key = request.Authorization;
    const bool keyed = key && Lower(key->substr(0, 7)) == "bearer " && key->substr(7) == settings.Key;
    Expect(action.Kind == K::Page || settings.Key.empty() || keyed, "passed without the key");
    if (action.Kind == K::Page) Expect(request.Method == "GET" && path == "/", "the page for something else");
    if (action.Kind == K::Command) {
      Expect(request.Method == "POST" && path.rfind("/api/", 0) == 0, "a command that is not a POST under /api/");
      const kav::TRemoteCommand c = action.Command;
      Expect(kav::IsValidRemoteCommand(c) && c.Kind != kav::TRemoteCommandKind::Status, "an invalid command");
      static const char* const KWords[] = {"", "power", "blackout", "input", "hotkey"};
      static const char* const KValues[] = {"off", "on", "toggle"};
      kav::THttpRequest canonical = request;
      canonical.Target = std::string("/api/") + KWords[static_cast<int>(c.Kind)] + "/" +
                         (c.Kind == kav::TRemoteCommandKind::Input ? std::to_string(c.Value) : KValues[c.Value]);
      const kav::THttpAction again = kav::RouteHttpRequest(settings, canonical);
      Expect(again.Kind == K::Command && again.Command == c, "the command's own path routes elsewhere");
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
