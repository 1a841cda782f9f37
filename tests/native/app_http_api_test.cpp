#include "app/core/HttpApi.h"
#include "app/core/HttpRemoteSettings.h"
#include "app/core/WebRemotePage.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace kav;

namespace {

using K = THttpAction::TKind;
using P = THttpRemotePlan::TKind;

THttpRemoteSettings Listening(const std::wstring& Port, const std::wstring& Address, const std::wstring& Key) {
  const THttpRemotePlan plan = PlanHttpRemote(Port, Address, Key);
  EXPECT_EQ(plan.Kind, P::Listen) << std::string(plan.LogText.begin(), plan.LogText.end());
  return plan.Settings;
}

THttpRequest Request(std::string Method, std::string Target, std::string Host = "127.0.0.1:8080") {
  THttpRequest r;
  r.Method = std::move(Method);
  r.Target = std::move(Target);
  r.Host = std::move(Host);
  return r;
}

} // namespace

TEST(HttpRemoteSettings, OffListenOrRefusedWithItsReason) {
  EXPECT_EQ(PlanHttpRemote(L"", L"0.0.0.0", L"").Kind, P::Off);
  EXPECT_EQ(PlanHttpRemote(L"0", L"", L"").Kind, P::Off);
  EXPECT_TRUE(PlanHttpRemote(L"0", L"", L"").LogText.empty());

  const THttpRemoteSettings local = Listening(L"8080", L"", L"");
  EXPECT_EQ(local.Port, 8080);
  EXPECT_EQ(local.Address, "127.0.0.1");
  EXPECT_TRUE(local.Loopback);
  EXPECT_EQ(Listening(L"$1F90", L"localhost", L"").Address, "127.0.0.1");
  EXPECT_TRUE(Listening(L"65535", L"127.0.0.2", L"k").Loopback);
  const THttpRemoteSettings net = Listening(L"8080", L"0.0.0.0", L"s3cret-KEY!");
  EXPECT_FALSE(net.Loopback);
  EXPECT_EQ(net.Key, "s3cret-KEY!");
  EXPECT_EQ(HttpListeningLogText(net), L"HTTPリモート：http://0.0.0.0:8080/ で待ち受けます（アクセスキーあり）");
  EXPECT_EQ(HttpListenFailedLogText(local, true, 10048),
            L"HTTPリモート：127.0.0.1:8080 で待ち受けられません（ほかのプログラムがポートを使用中です）。待ち受けません");

  EXPECT_EQ(PlanHttpRemote(L"8080", L"192.168.1.20", L"").LogText,
            L"HTTPリモート：HttpAddress=192.168.1.20 で待ち受けるには HttpKey（アクセスキー）が必要です。待ち受けません");
  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> refused[] = {
      {L"70000", L"", L""},  {L"-1", L"", L""},          {L"abc", L"", L""},        {L"80", L"192.168.1", L"k"},
      {L"80", L"010.0.0.1", L"k"}, {L"80", L"256.0.0.1", L"k"}, {L"80", L"::1", L"k"}, {L"80", L"1.2.3.4 ", L"k"},
      {L"80", L"", L"two words"},  {L"80", L"", L"キー"}};
  int row = 0;
  for (const auto& [port, address, key] : refused) {
    const THttpRemotePlan plan = PlanHttpRemote(port, address, key);
    EXPECT_EQ(plan.Kind, P::Refused) << "row " << row++;
    EXPECT_EQ(plan.LogText.rfind(L"HTTPリモート：", 0), 0u);
  }
}

TEST(HttpApi, RoutesCommandsReadingsAndThePage) {
  const THttpRemoteSettings s = Listening(L"8080", L"", L"");
  const auto route = [&](const THttpRequest& r) { return RouteHttpRequest(s, r); };
  EXPECT_EQ(route(Request("GET", "/")).Kind, K::Page);
  EXPECT_EQ(route(Request("GET", "/?from=phone")).Kind, K::Page);
  EXPECT_EQ(route(Request("GET", "/api/status")).Kind, K::Status);
  EXPECT_EQ(route(Request("GET", "/api/events", "localhost:8080")).Kind, K::Events);
  const struct {
    const char* Path;
    TRemoteCommand Command;
  } commands[] = {
      {"/api/power/on", {TRemoteCommandKind::Power, KRemoteOn}},
      {"/api/power/off", {TRemoteCommandKind::Power, KRemoteOff}},
      {"/api/power/toggle", {TRemoteCommandKind::Power, KRemoteToggle}},
      {"/api/blackout/toggle", {TRemoteCommandKind::Blackout, KRemoteToggle}},
      {"/api/input/1", {TRemoteCommandKind::Input, 1}},
      {"/api/input/8", {TRemoteCommandKind::Input, 8}},
      {"/api/hotkey/off", {TRemoteCommandKind::HotKey, KRemoteOff}},
  };
  for (const auto& c : commands) {
    const THttpAction a = route(Request("POST", c.Path));
    EXPECT_EQ(a.Kind, K::Command) << c.Path;
    EXPECT_EQ(a.Command, c.Command) << c.Path;
    EXPECT_EQ(route(Request("GET", c.Path)).Status, 405) << c.Path;
  }
  EXPECT_STREQ(route(Request("GET", "/api/input/3")).Allow, "POST");
  EXPECT_STREQ(route(Request("POST", "/api/status")).Allow, "GET");
  EXPECT_EQ(route(Request("DELETE", "/")).Status, 405);
  for (const char* path : {"/api/input/9", "/api/input/0", "/api/input/03", "/api/hotkey/toggle", "/api/status/",
                           "/api/power", "/api/power/on/now", "/api/status/on", "/api/debug/on", "/index.html",
                           "/api//on", "/api/power/%6Fn"})
    EXPECT_EQ(route(Request("POST", path)).Status, 404) << path;
}

TEST(HttpApi, KeyOriginAndHostRules) {
  const THttpRemoteSettings local = Listening(L"8080", L"", L"");
  const THttpRemoteSettings net = Listening(L"8080", L"0.0.0.0", L"abc123");
  // Malformed: no Host, a repeated field, a target that is not a path.
  THttpRequest r = Request("GET", "/api/status");
  r.Host.reset();
  EXPECT_EQ(RouteHttpRequest(local, r).Status, 400);
  r = Request("GET", "/api/status");
  r.Repeated = true;
  EXPECT_EQ(RouteHttpRequest(local, r).Status, 400);
  EXPECT_EQ(RouteHttpRequest(local, Request("GET", "http://127.0.0.1:8080/api/status")).Status, 400);

  // Loopback: only its own names (DNS rebinding), upper case allowed.
  EXPECT_EQ(RouteHttpRequest(local, Request("GET", "/api/status", "LOCALHOST:8080")).Kind, K::Status);
  for (const char* host : {"evil.example:8080", "127.0.0.1:8081", "127.0.0.1", "localhost.evil:8080", ""})
    EXPECT_EQ(RouteHttpRequest(local, Request("POST", "/api/power/on", host)).Status, 403) << host;
  // On the network any name works, but only with the key.
  EXPECT_EQ(RouteHttpRequest(net, Request("GET", "/", "192.168.1.20:8080")).Kind, K::Page);
  r = Request("POST", "/api/input/3", "192.168.1.20:8080");
  EXPECT_EQ(RouteHttpRequest(net, r).Status, 401);
  for (const char* wrong : {"Bearer abc12", "Bearer abc1234", "Bearer  abc123", "Basic abc123", "abc123", "Bearer"}) {
    r.Authorization = wrong;
    EXPECT_EQ(RouteHttpRequest(net, r).Status, 401) << wrong;
  }
  r.Authorization = "bearer abc123";
  EXPECT_EQ(RouteHttpRequest(net, r).Kind, K::Command);
  EXPECT_EQ(RouteHttpRequest(net, Request("GET", "/nothing", "pc:8080")).Status, 401); // nothing told without the key

  // Origin: only this server's own.
  r.Origin = "http://192.168.1.20:8080";
  EXPECT_EQ(RouteHttpRequest(net, r).Kind, K::Command);
  for (const char* origin : {"http://evil.example", "null", "https://192.168.1.20:8080", "http://192.168.1.20:8081"}) {
    r.Origin = origin;
    EXPECT_EQ(RouteHttpRequest(net, r).Status, 403) << origin;
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
  EXPECT_EQ(page.find("http://"), std::string::npos);
  EXPECT_EQ(page.find("https://"), std::string::npos);
  EXPECT_NE(page.find("\"/api/events\""), std::string::npos);
}
