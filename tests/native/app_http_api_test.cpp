#include "app/core/HttpApi.h"
#include "app/core/HttpRemoteSettings.h"
#include "app/core/WebRemotePage.h"
#include "common/core/TextUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace kav;

namespace {

using K = THttpAction::TKind;
using P = THttpRemotePlan::TKind;

THttpRemoteSettings Listening(const wchar_t* Port, const wchar_t* Address, const wchar_t* Key) {
  return PlanHttpRemote(Port, Address, Key).Settings;
}

// What the three stored texts come to: "off", "refused" (with the remote's
// log line) or where it listens ("8080 127.0.0.1 loopback key=").
std::string Outcome(const wchar_t* Port, const wchar_t* Address, const wchar_t* Key) {
  const THttpRemotePlan plan = PlanHttpRemote(Port, Address, Key);
  const THttpRemoteSettings& s = plan.Settings;
  if (plan.Kind == P::Refused) return plan.LogText.rfind(L"HTTPリモート：", 0) == 0 ? "refused" : "refused unmarked";
  if (!plan.LogText.empty()) return "a log line without a refusal";
  if (plan.Kind == P::Off) return "off";
  return std::to_string(s.Port) + " " + s.Address + (s.Loopback ? " loopback" : " network") + " key=" + s.Key;
}

// A request as the server hands it over; nullptr: the field is absent.
THttpRequest Request(const char* Method, const char* Target, const char* Host = "127.0.0.1:8080",
                     const char* Origin = nullptr, const char* Authorization = nullptr) {
  THttpRequest r;
  r.Method = Method;
  r.Target = Target;
  if (Host) r.Host = Host;
  if (Origin) r.Origin = Origin;
  if (Authorization) r.Authorization = Authorization;
  return r;
}

} // namespace

TEST(HttpRemoteSettings, OffListenOrRefusedWithItsReason) {
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, const char*> plans[] = {
      {L"", L"0.0.0.0", L"", "off"}, {L"0", L"", L"", "off"},
      {L"8080", L"", L"", "8080 127.0.0.1 loopback key="},
      {L"$1F90", L"localhost", L"", "8080 127.0.0.1 loopback key="},
      {L"65535", L"127.0.0.2", L"k", "65535 127.0.0.2 loopback key=k"},
      {L"8080", L"0.0.0.0", L"s3cret-KEY!", "8080 0.0.0.0 network key=s3cret-KEY!"},
      {L"70000", L"", L"", "refused"}, {L"-1", L"", L"", "refused"}, {L"abc", L"", L"", "refused"},
      {L"80", L"192.168.1", L"k", "refused"}, {L"80", L"010.0.0.1", L"k", "refused"},
      {L"80", L"256.0.0.1", L"k", "refused"}, {L"80", L"::1", L"k", "refused"}, {L"80", L"1.2.3.4 ", L"k", "refused"},
      {L"80", L"", L"two words", "refused"}, {L"80", L"", L"キー", "refused"}};
  for (const auto& [port, address, key, outcome] : plans)
    EXPECT_EQ(Outcome(port, address, key), outcome) << ToUtf8(port) << "|" << ToUtf8(address) << "|" << ToUtf8(key);
  EXPECT_EQ(PlanHttpRemote(L"8080", L"192.168.1.20", L"").LogText,
            L"HTTPリモート：HttpAddress=192.168.1.20 で待ち受けるには HttpKey（アクセスキー）が必要です。待ち受けません");
  EXPECT_EQ(HttpListeningLogText(Listening(L"8080", L"0.0.0.0", L"k")),
            L"HTTPリモート：http://0.0.0.0:8080/ で待ち受けます（アクセスキーあり）");
  EXPECT_EQ(HttpListenFailedLogText(Listening(L"8080", L"", L""), true, 10048),
            L"HTTPリモート：127.0.0.1:8080 で待ち受けられません（ほかのプログラムがポートを使用中です）。待ち受けません");
}

TEST(HttpApi, RoutesByFormHostOriginKeyPathAndMethod) {
  const THttpRemoteSettings local = Listening(L"8080", L"", L""), net = Listening(L"8080", L"0.0.0.0", L"abc123");
  const char* const lan = "192.168.1.20:8080";
  THttpRequest repeated = Request("GET", "/api/status");
  repeated.Repeated = true;
  const struct {
    const THttpRemoteSettings& Settings;
    THttpRequest Request;
    int Status;
    K Kind = K::Reject;
    const char* Allow = nullptr;
  } cases[] = {
      {local, Request("GET", "/api/status", nullptr), 400}, {local, repeated, 400},
      {local, Request("GET", "http://127.0.0.1:8080/api/status"), 400},
      {local, Request("GET", "/"), 200, K::Page}, {local, Request("GET", "/?from=phone"), 200, K::Page},
      {local, Request("GET", "/api/status", "LOCALHOST:8080"), 200, K::Status},
      {local, Request("GET", "/api/events", "localhost:8080"), 200, K::Events},
      {local, Request("GET", "/api/input/3"), 405, K::Reject, "POST"},
      {local, Request("POST", "/api/status"), 405, K::Reject, "GET"},
      {local, Request("DELETE", "/"), 405, K::Reject, "GET"},
      // On the network any name does, but nothing is told without the key.
      {net, Request("GET", "/", lan), 200, K::Page}, {net, Request("GET", "/nothing", "pc:8080"), 401},
      {net, Request("POST", "/api/input/3", lan, nullptr, "bearer abc123"), 200, K::Command},
      {net, Request("POST", "/api/input/3", lan, "http://192.168.1.20:8080", "Bearer abc123"), 200, K::Command}};
  for (const auto& c : cases) {
    const THttpAction a = RouteHttpRequest(c.Settings, c.Request);
    EXPECT_EQ(std::tuple(a.Status, a.Kind, std::string(a.Allow ? a.Allow : "")),
              std::tuple(c.Status, c.Kind, std::string(c.Allow ? c.Allow : "")))
        << c.Request.Method << " " << c.Request.Target << " " << c.Request.Host.value_or("-");
  }
  // Loopback answers only its own names (DNS rebinding); only this server's own Origin.
  for (const char* host : {"evil.example:8080", "127.0.0.1:8081", "127.0.0.1", "localhost.evil:8080", ""})
    EXPECT_EQ(RouteHttpRequest(local, Request("POST", "/api/power/on", host)).Status, 403) << host;
  const auto command = [&](const char* Origin, const char* Key) {
    return RouteHttpRequest(net, Request("POST", "/api/input/3", lan, Origin, Key)).Status;
  };
  for (const char* origin : {"http://evil.example", "null", "https://192.168.1.20:8080", "http://192.168.1.20:8081"})
    EXPECT_EQ(command(origin, "Bearer abc123"), 403) << origin;
  for (const char* key : {"Bearer abc12", "Bearer abc1234", "Bearer  abc123", "Basic abc123", "abc123", "Bearer", ""})
    EXPECT_EQ(command(nullptr, *key ? key : nullptr), 401) << key;
  for (const char* path : {"/api/input/9", "/api/input/0", "/api/input/03", "/api/hotkey/toggle", "/api/status/",
                           "/api/power", "/api/power/on/now", "/api/status/on", "/api/debug/on", "/index.html",
                           "/api//on", "/api/power/%6Fn"})
    EXPECT_EQ(RouteHttpRequest(local, Request("POST", path)).Status, 404) << path;
  const std::tuple<const char*, TRemoteCommandKind, int> commands[] = {
      {"/api/power/on", TRemoteCommandKind::Power, KRemoteOn},
      {"/api/power/off", TRemoteCommandKind::Power, KRemoteOff},
      {"/api/power/toggle", TRemoteCommandKind::Power, KRemoteToggle},
      {"/api/blackout/toggle", TRemoteCommandKind::Blackout, KRemoteToggle},
      {"/api/input/1", TRemoteCommandKind::Input, 1}, {"/api/input/8", TRemoteCommandKind::Input, 8},
      {"/api/hotkey/off", TRemoteCommandKind::HotKey, KRemoteOff}};
  for (const auto& [path, kind, value] : commands) {
    const THttpAction a = RouteHttpRequest(local, Request("POST", path));
    EXPECT_EQ(std::tuple(a.Kind, a.Command), std::tuple(K::Command, TRemoteCommand{kind, value})) << path;
    EXPECT_EQ(RouteHttpRequest(local, Request("GET", path)).Status, 405) << path;
  }
}

TEST(HttpApi, JsonEventsAndAnswers) {
  TRemoteStatus st{true, false, 3, true, L"COM5"};
  EXPECT_EQ(HttpStatusJson(st), R"({"power":"on","blackout":"off","input":3,"hotkey":"on","port":"COM5"})");
  st = TRemoteStatus{false, true, 0, false, L"C\"O\\M\x01\u30DD"};
  EXPECT_EQ(HttpStatusJson(st), "{\"power\":\"off\",\"blackout\":\"on\",\"input\":0,\"hotkey\":\"off\","
                                "\"port\":\"C\\\"O\\\\M\\u0001\xE3\x83\x9D\"}");
  EXPECT_EQ(HttpStatusEvent(st), "event: status\ndata: " + HttpStatusJson(st) + "\n\n");
  // Done, NotDone and Busy are read end to end (scenarios_http.py).
  EXPECT_EQ(HttpCommandAnswer(TRemoteAnswer::Starting).Status, 503);
  EXPECT_EQ(HttpCommandAnswer(TRemoteAnswer::Starting).Body, R"({"result":"starting"})");
  EXPECT_EQ(HttpCommandAnswer(TRemoteAnswer::NotUnderstood).Status, 500);
  EXPECT_EQ(HttpErrorBody(413), R"({"error":"payload too large"})");
  // The page stands alone: nothing is loaded from another address.
  const std::string page = KWebRemotePage;
  EXPECT_EQ(std::tuple(page.find("http://"), page.find("https://")), std::tuple(std::string::npos, std::string::npos));
  EXPECT_NE(page.find("\"/api/events\""), std::string::npos);
}
