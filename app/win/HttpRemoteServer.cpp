#include "app/win/HttpRemoteServer.h"

// Header-only Boost: no Boost libraries to link, no deprecated Asio names.
#define BOOST_ASIO_NO_DEPRECATED
#define BOOST_ERROR_CODE_HEADER_ONLY
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

#include <mswsock.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "app/core/HttpApi.h"
#include "app/core/WebRemotePage.h"
#include "app/win/RemoteControl.h"
#include "app/win/frmMain.h"
#include "common/win/KCL_AppData.h"
#include "common/win/IniFile.h"

// Asio accepts with AcceptEx, which lives in mswsock.dll. That DLL is not
// one of the system's known DLLs, so importing it would let a planted copy
// beside the program be loaded. Winsock hands out the same functions
// through WSAIoctl (ws2_32.dll is a known DLL): these two stand in for the
// imports.
namespace {

std::atomic<LPFN_ACCEPTEX> GAcceptEx{nullptr};
std::atomic<LPFN_GETACCEPTEXSOCKADDRS> GGetAcceptExSockaddrs{nullptr};

template <typename TFunc>
TFunc ExtensionFunction(SOCKET Socket, GUID Id) {
  TFunc func = nullptr;
  DWORD bytes = 0;
  if (WSAIoctl(Socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &Id, sizeof Id, &func, sizeof func, &bytes, nullptr,
               nullptr) != 0)
    return nullptr;
  return func;
}

} // namespace

extern "C" BOOL WINAPI AcceptEx(SOCKET sListenSocket, SOCKET sAcceptSocket, PVOID lpOutputBuffer,
                                DWORD dwReceiveDataLength, DWORD dwLocalAddressLength, DWORD dwRemoteAddressLength,
                                LPDWORD lpdwBytesReceived, LPOVERLAPPED lpOverlapped) {
  LPFN_ACCEPTEX accept = GAcceptEx.load();
  if (!accept) {
    accept = ExtensionFunction<LPFN_ACCEPTEX>(sListenSocket, WSAID_ACCEPTEX);
    // Asio asks for the addresses only after an accept has completed.
    GGetAcceptExSockaddrs.store(
        ExtensionFunction<LPFN_GETACCEPTEXSOCKADDRS>(sListenSocket, WSAID_GETACCEPTEXSOCKADDRS));
    if (!accept) {
      WSASetLastError(WSAEOPNOTSUPP);
      return FALSE;
    }
    GAcceptEx.store(accept);
  }
  return accept(sListenSocket, sAcceptSocket, lpOutputBuffer, dwReceiveDataLength, dwLocalAddressLength,
                dwRemoteAddressLength, lpdwBytesReceived, lpOverlapped);
}

extern "C" VOID WINAPI GetAcceptExSockaddrs(PVOID lpOutputBuffer, DWORD dwReceiveDataLength,
                                            DWORD dwLocalAddressLength, DWORD dwRemoteAddressLength,
                                            sockaddr** LocalSockaddr, LPINT LocalSockaddrLength,
                                            sockaddr** RemoteSockaddr, LPINT RemoteSockaddrLength) {
  if (const LPFN_GETACCEPTEXSOCKADDRS get = GGetAcceptExSockaddrs.load()) {
    get(lpOutputBuffer, dwReceiveDataLength, dwLocalAddressLength, dwRemoteAddressLength, LocalSockaddr,
        LocalSockaddrLength, RemoteSockaddr, RemoteSockaddrLength);
    return;
  }
  *LocalSockaddr = *RemoteSockaddr = nullptr;
  *LocalSockaddrLength = *RemoteSockaddrLength = 0;
}

namespace kav {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

// How long the server waits for the status window to take a command: a
// power command alone pauses 100 ms; a nested message loop answers at once.
constexpr DWORD KHandOverTimeoutMs = 20000;
// Event messages a stream may have waiting before its reader counts as gone.
constexpr std::size_t KMaxQueuedEvents = 8;

constexpr char KJsonType[] = "application/json; charset=utf-8";
constexpr char KPagePolicy[] = "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                               "connect-src 'self'; form-action 'none'; frame-ancestors 'none'; base-uri 'none'";

const boost::system::error_category& HttpErrors() { return http::make_error_code(http::error::bad_target).category(); }

} // namespace

class THttpRemoteServer::TImpl {
public:
  TImpl(const THttpRemoteSettings& Settings, HWND AppWindow);
  ~TImpl();

  bool FListening = false;
  std::wstring FLogText;

  void Publish(const TRemoteStatus& Status);

  class TSession;
  const THttpRemoteSettings& Settings() const noexcept { return FSettings; }
  std::optional<TRemoteStatus> Snapshot();
  TRemoteAnswer HandOver(const TRemoteCommand& Command) const;
  void AddStream(const std::shared_ptr<TSession>& Session);

private:
  void Listen();
  void Accept();
  void Broadcast();
  void ArmKeepAlive();
  void Run() noexcept;

  THttpRemoteSettings FSettings;
  HWND FAppWindow;
  // Declared before the io_context: sessions that die with it still count down.
  std::size_t FConnections = 0;
  std::vector<std::weak_ptr<TSession>> FStreams;
  bool FKeepAliveArmed = false;
  std::mutex FStatusLock;
  std::optional<TRemoteStatus> FStatus; // the UI thread's snapshot, under FStatusLock
  HANDLE FEnded = nullptr;              // set when the thread leaves its loop

  asio::io_context FIo{1};
  tcp::acceptor FAcceptor{FIo};
  asio::steady_timer FKeepAlive{FIo};
  std::thread FThread;

  friend class TSession;
};

// One connection: requests one after another until it is idle for
// KHttpIdleSeconds, then, for GET /api/events, an event stream until either
// side ends it.
class THttpRemoteServer::TImpl::TSession : public std::enable_shared_from_this<TSession> {
public:
  TSession(TImpl& Server, tcp::socket Socket) : FServer(Server), FStream(std::move(Socket)) { ++FServer.FConnections; }
  ~TSession() { --FServer.FConnections; }

  void ReadRequest() {
    FParser.emplace();
    FParser->header_limit(KHttpMaxHeader);
    FParser->body_limit(KHttpMaxBody);
    FStream.expires_after(std::chrono::seconds(KHttpIdleSeconds));
    http::async_read(FStream, FBuffer, *FParser,
                     [self = shared_from_this()](error_code Ec, std::size_t) { self->OnRequest(Ec); });
  }

  // Event stream: one more message for the reader; a reader that has stopped
  // taking them is let go.
  void Send(const std::string& Message) {
    if (!FStreaming) return;
    if (FQueue.size() >= KMaxQueuedEvents) {
      Close();
      return;
    }
    FQueue.push_back(Message);
    if (FQueue.size() == 1) WriteNext();
  }

  void SendStatus(const TRemoteStatus& Status) {
    if (FLastSent == Status) return;
    FLastSent = Status;
    Send(HttpStatusEvent(Status));
  }

  bool Streaming() const noexcept { return FStreaming; }

private:
  void OnRequest(error_code Ec) {
    if (Ec == http::error::body_limit) return Reply(413, HttpErrorBody(413), false);
    if (Ec == http::error::end_of_stream || Ec == http::error::partial_message) return Close();
    if (Ec && Ec.category() == HttpErrors()) return Reply(400, HttpErrorBody(400), false);
    if (Ec) return Close(); // time-out, reset, the server stopping

    const auto& req = FParser->get();
    THttpRequest request;
    request.Method = std::string(req.method_string());
    request.Target = std::string(req.target());
    const auto field = [&](http::field Name, std::optional<std::string>& Out) {
      const auto count = req.count(Name);
      if (count > 1) request.Repeated = true;
      if (count > 0) Out = std::string(req[Name]);
    };
    field(http::field::host, request.Host);
    field(http::field::origin, request.Origin);
    field(http::field::authorization, request.Authorization);
    FVersion = req.version();
    const bool keepAlive = req.keep_alive();

    const THttpAction action = RouteHttpRequest(FServer.Settings(), request);
    switch (action.Kind) {
    case THttpAction::TKind::Reject:
      return Reply(action.Status, HttpErrorBody(action.Status), keepAlive, action.Allow);
    case THttpAction::TKind::Page:
      return Reply(200, KWebRemotePage, keepAlive, nullptr, true);
    case THttpAction::TKind::Status: {
      const auto status = FServer.Snapshot();
      if (!status) return Reply(HttpStartingAnswer().Status, HttpStartingAnswer().Body, keepAlive);
      return Reply(200, HttpStatusJson(*status), keepAlive);
    }
    case THttpAction::TKind::Command: {
      const THttpAnswer answer = HttpCommandAnswer(FServer.HandOver(action.Command));
      return Reply(answer.Status, answer.Body, keepAlive);
    }
    case THttpAction::TKind::Events:
      return StartEvents();
    }
  }

  void SetCommonFields(http::response_header<>& Head, int Status, const char* Type) {
    Head.version(FVersion);
    Head.result(static_cast<unsigned>(Status));
    Head.set(http::field::content_type, Type);
    Head.set(http::field::cache_control, "no-store");
    Head.set("X-Content-Type-Options", "nosniff");
    if (Status == 503) Head.set(http::field::retry_after, "1");
    if (Status == 401) Head.set(http::field::www_authenticate, "Bearer");
  }

  void Reply(int Status, std::string Body, bool KeepAlive, const char* Allow = nullptr, bool Page = false) {
    FResponse = {};
    SetCommonFields(FResponse.base(), Status, Page ? "text/html; charset=utf-8" : KJsonType);
    if (Allow) FResponse.set(http::field::allow, Allow);
    if (Page) {
      // The page: nothing from elsewhere, and no other site may frame it.
      FResponse.set("Content-Security-Policy", KPagePolicy);
      FResponse.set("X-Frame-Options", "DENY");
      FResponse.set("Referrer-Policy", "no-referrer");
    }
    FResponse.body() = std::move(Body);
    FResponse.keep_alive(KeepAlive);
    FResponse.prepare_payload();
    FStream.expires_after(std::chrono::seconds(KHttpIdleSeconds));
    http::async_write(FStream, FResponse, [self = shared_from_this(), KeepAlive](error_code Ec, std::size_t) {
      if (Ec) return self->Close();
      if (!KeepAlive) return self->Linger();
      self->ReadRequest();
    });
  }

  // Closing with unread bytes (a refused body) would reset the connection
  // and could destroy the answer on its way: end our side, read what is
  // left for a moment, then close.
  void Linger() {
    error_code ignored;
    FStream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    FStream.expires_after(std::chrono::seconds(2)); // one deadline for all the reads below
    LingerRead();
  }

  void LingerRead() {
    FStream.async_read_some(asio::buffer(FDrain), [self = shared_from_this()](error_code Ec, std::size_t) {
      if (Ec) return self->Close();
      self->LingerRead();
    });
  }

  void StartEvents() {
    FEventHead.emplace();
    SetCommonFields(FEventHead->base(), 200, "text/event-stream; charset=utf-8");
    // The stream ends with the connection.
    FEventHead->keep_alive(false);
    FEventWriter.emplace(*FEventHead);
    FStream.expires_after(std::chrono::seconds(KHttpIdleSeconds));
    http::async_write_header(FStream, *FEventWriter, [self = shared_from_this()](error_code Ec, std::size_t) {
      if (Ec) return self->Close();
      self->FStream.expires_never();
      self->FStreaming = true;
      self->FServer.AddStream(self);
      if (const auto status = self->FServer.Snapshot()) self->SendStatus(*status);
      self->Drain();
    });
  }

  // Whatever the reader sends now is dropped; its end ends the stream.
  void Drain() {
    FStream.socket().async_read_some(asio::buffer(FDrain), [self = shared_from_this()](error_code Ec, std::size_t) {
      if (Ec) return self->Close();
      self->Drain();
    });
  }

  void WriteNext() {
    asio::async_write(FStream.socket(), asio::buffer(FQueue.front()),
                      [self = shared_from_this()](error_code Ec, std::size_t) {
                        if (Ec) return self->Close();
                        if (!self->FQueue.empty()) self->FQueue.pop_front();
                        if (!self->FQueue.empty()) self->WriteNext();
                      });
  }

  void Close() {
    // The queue stays: a write under way may still be reading its front.
    FStreaming = false;
    error_code ignored;
    FStream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    FStream.socket().close(ignored);
  }

  TImpl& FServer;
  beast::tcp_stream FStream;
  beast::flat_buffer FBuffer{KHttpMaxHeader + KHttpMaxBody};
  std::optional<http::request_parser<http::string_body>> FParser;
  http::response<http::string_body> FResponse;
  unsigned FVersion = 11;
  // Event stream.
  std::optional<http::response<http::empty_body>> FEventHead;
  std::optional<http::response_serializer<http::empty_body>> FEventWriter;
  bool FStreaming = false;
  std::deque<std::string> FQueue;
  std::optional<TRemoteStatus> FLastSent;
  char FDrain[256];
};

THttpRemoteServer::TImpl::TImpl(const THttpRemoteSettings& Settings, HWND AppWindow)
    : FSettings(Settings), FAppWindow(AppWindow) {
  try {
    FEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!FEnded) throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
    Listen();
    if (!FListening) return;
    Accept();
    FThread = std::thread([this] { Run(); });
  } catch (const std::exception&) {
    FListening = false;
    FLogText = HttpListenFailedLogText(FSettings, false, static_cast<int>(GetLastError()));
  }
}

THttpRemoteServer::TImpl::~TImpl() {
  if (FThread.joinable()) {
    FIo.stop();
    // The thread may be waiting in SendMessageTimeout for this (the UI) thread.
    for (;;) {
      if (MsgWaitForMultipleObjects(1, &FEnded, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0 + 1) break;
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    FThread.join();
  }
  if (FEnded) CloseHandle(FEnded);
}

void THttpRemoteServer::TImpl::Listen() {
  const tcp::endpoint endpoint(asio::ip::make_address_v4(FSettings.Address), FSettings.Port);
  error_code ec;
  FAcceptor.open(endpoint.protocol(), ec);
  if (!ec) {
    // Nobody else may bind the same port over ours (Windows would allow it
    // with SO_REUSEADDR and send them our connections).
    BOOL exclusive = TRUE;
    setsockopt(FAcceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    FAcceptor.bind(endpoint, ec);
  }
  if (!ec) FAcceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    // WSAEACCES: another program holds the port exclusively.
    const bool inUse = ec == asio::error::address_in_use || ec == asio::error::access_denied;
    FLogText = HttpListenFailedLogText(FSettings, inUse, ec.value());
    return;
  }
  FListening = true;
  FLogText = HttpListeningLogText(FSettings);
}

void THttpRemoteServer::TImpl::Accept() {
  FAcceptor.async_accept([this](error_code Ec, tcp::socket Socket) {
    if (Ec == asio::error::operation_aborted) return;
    if (!Ec) {
      if (FConnections >= KHttpMaxConnections) {
        error_code ignored;
        Socket.close(ignored);
      } else {
        std::make_shared<TSession>(*this, std::move(Socket))->ReadRequest();
      }
    }
    Accept();
  });
}

void THttpRemoteServer::TImpl::Run() noexcept {
  // A name for debuggers and profilers (Windows 10 1607 and later).
  using TSetThreadDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  if (const auto set = reinterpret_cast<TSetThreadDescription>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription"))))
    set(GetCurrentThread(), L"kav-http");
  // A handler that throws loses its connection, not the server.
  for (;;) {
    try {
      FIo.run();
      break;
    } catch (...) {
    }
  }
  SetEvent(FEnded);
}

std::optional<TRemoteStatus> THttpRemoteServer::TImpl::Snapshot() {
  const std::lock_guard<std::mutex> lock(FStatusLock);
  return FStatus;
}

void THttpRemoteServer::TImpl::Publish(const TRemoteStatus& Status) {
  {
    const std::lock_guard<std::mutex> lock(FStatusLock);
    if (FStatus == Status) return;
    FStatus = Status;
  }
  if (FListening) asio::post(FIo, [this] { Broadcast(); });
}

TRemoteAnswer THttpRemoteServer::TImpl::HandOver(const TRemoteCommand& Command) const {
  // The same message a second start sends; no reply window.
  return SendRemoteCommand(FAppWindow, 0, Command, SMTO_BLOCK | SMTO_ABORTIFHUNG, KHandOverTimeoutMs)
      .value_or(TRemoteAnswer::NotUnderstood);
}

void THttpRemoteServer::TImpl::AddStream(const std::shared_ptr<TSession>& Session) {
  FStreams.push_back(Session);
  ArmKeepAlive();
}

void THttpRemoteServer::TImpl::Broadcast() {
  const auto status = Snapshot();
  if (!status) return;
  for (const auto& weak : FStreams)
    if (const auto session = weak.lock()) session->SendStatus(*status);
}

void THttpRemoteServer::TImpl::ArmKeepAlive() {
  // Runs only while a stream is open: without readers the thread sleeps.
  if (FKeepAliveArmed) return;
  FKeepAliveArmed = true;
  FKeepAlive.expires_after(std::chrono::seconds(KHttpEventKeepAliveSeconds));
  FKeepAlive.async_wait([this](error_code Ec) {
    FKeepAliveArmed = false;
    if (Ec) return;
    std::erase_if(FStreams, [](const std::weak_ptr<TSession>& W) {
      const auto session = W.lock();
      return !session || !session->Streaming();
    });
    for (const auto& weak : FStreams)
      if (const auto session = weak.lock()) session->Send(KHttpEventKeepAlive);
    if (!FStreams.empty()) ArmKeepAlive();
  });
}

// ---------------------------------------------------------------------------

THttpRemoteServer::THttpRemoteServer(const THttpRemoteSettings& Settings, HWND AppWindow)
    : FImpl(std::make_unique<TImpl>(Settings, AppWindow)) {}

THttpRemoteServer::~THttpRemoteServer() = default;

bool THttpRemoteServer::Listening() const noexcept { return FImpl->FListening; }

const std::wstring& THttpRemoteServer::LogText() const noexcept { return FImpl->FLogText; }

void THttpRemoteServer::PublishStatus(const IRemoteCommandTarget& Target) noexcept {
  try {
    TRemoteStatus status;
    if (Target.GetRemoteStatus(status) == TRemoteAnswer::Done) FImpl->Publish(status);
  } catch (...) {
    // A value that could not be copied is published with the next change.
  }
}

std::unique_ptr<THttpRemoteServer> StartHttpRemote(HWND AppWindow) {
  const TIniFile ini(SettingsIniFile);
  const THttpRemotePlan plan = PlanHttpRemote(ini.ReadString(KHttpRemoteSection, KHttpPortIdent, L""),
                                              ini.ReadString(KHttpRemoteSection, KHttpAddressIdent, L""),
                                              ini.ReadString(KHttpRemoteSection, KHttpKeyIdent, L""));
  if (plan.Kind == THttpRemotePlan::TKind::Off) return nullptr;
  std::unique_ptr<THttpRemoteServer> server;
  std::wstring line = plan.LogText;
  if (plan.Kind == THttpRemotePlan::TKind::Listen) {
    server = std::make_unique<THttpRemoteServer>(plan.Settings, AppWindow);
    line = server->LogText();
    if (!server->Listening()) server.reset();
  }
  try {
    WriteAppLog(line, server ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_WARNING_TYPE);
  } catch (...) {
    // Like every start-up log line: lost rather than holding the start up.
  }
  return server;
}

} // namespace kav
