#pragma once
// The network remote's API, without the network: which answer an HTTP
// request gets (the access key, the origin and host rules, paths and
// methods), the command it carries, and the JSON and event-stream texts.
// The HTTP parsing itself is Boost.Beast's, in app/win/HttpRemoteServer.cpp;
// a command then takes the command line's own path (TRemoteCommand).
#include <cstddef>
#include <optional>
#include <string>

#include "app/core/HttpRemoteSettings.h"
#include "app/core/RemoteCommand.h"

namespace kav {

// Limits of one connection.
inline constexpr std::size_t KHttpMaxBody = 1024;         // bytes of a request body (413 above)
inline constexpr std::size_t KHttpMaxHeader = 8192;       // bytes of a request head (400 above)
inline constexpr std::size_t KHttpMaxConnections = 16;    // further connections are closed at once
inline constexpr unsigned KHttpIdleSeconds = 10;          // a connection without a request is closed
inline constexpr unsigned KHttpEventKeepAliveSeconds = 15; // a comment on each event stream, so both ends notice a loss

// What the server saw of a request: Beast has parsed it; header fields that
// occurred more than once make Repeated true.
struct THttpRequest {
  std::string Method; // as sent ("GET", "POST" ...)
  std::string Target; // the request target ("/api/input/3", "/?x")
  std::optional<std::string> Host;
  std::optional<std::string> Origin;
  std::optional<std::string> Authorization;
  bool Repeated = false; // Host, Origin or Authorization given twice
};

// What to do with a request.
struct THttpAction {
  enum class TKind {
    Reject,  // answer Status with ErrorBody(Status)
    Page,    // the web remote page
    Status,  // the status JSON
    Events,  // the event stream
    Command, // hand Command over to the status window
  };
  TKind Kind = TKind::Reject;
  int Status = 400;    // HTTP status of a Reject
  const char* Allow = nullptr; // the methods a 405 names
  TRemoteCommand Command;
};

// The rules, in order: 400 a repeated field, no Host or a target that is not
// a path; 403 a Host other than 127.0.0.1:PORT / localhost:PORT (or the
// loopback address listened on) while listening on loopback, or an Origin
// other than "http://" + Host; the page ("/", GET) for everyone; 401 without
// "Authorization: Bearer KEY" when a key is set; 404 an unknown path; 405 a
// command that is not POST or a reading that is not GET. The query string is
// ignored.
THttpAction RouteHttpRequest(const THttpRemoteSettings& Settings, const THttpRequest& Request);

// {"power":"on","blackout":"off","input":3,"hotkey":"on","port":"COM5"}
std::string HttpStatusJson(const TRemoteStatus& Status);
// One event of the event stream: "event: status\ndata: <json>\n\n".
std::string HttpStatusEvent(const TRemoteStatus& Status);
// The comment that keeps an idle event stream alive.
inline constexpr char KHttpEventKeepAlive[] = ":\n\n";

// HTTP status and body of the status window's answer to a command: Done 200
// "done", NotDone 503 "port error", Busy 409 "busy", Starting 503 "starting"
// (with Retry-After), anything else 500 "not understood".
struct THttpAnswer {
  int Status;
  std::string Body;
};
THttpAnswer HttpCommandAnswer(TRemoteAnswer Answer);
// The body of a status answered while the program is still starting.
THttpAnswer HttpStartingAnswer();

// {"error":"…"} for a rejected request (400, 401, 403, 404, 405, 413).
std::string HttpErrorBody(int Status);

// Escapes Text (UTF-8) as the contents of a JSON string.
std::string JsonEscape(const std::string& Text);

} // namespace kav
