#pragma once
// The switcher's serial protocol without any I/O: command frames, the receive
// buffer cutter (one frame per check) and the reply decoder.
// Frames are ESC + ASCII text + CR in both directions; bytes are chars 0..255.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/core/AppError.h"
#include "device/core/IAv90RStatusSink.h"

namespace kav {

inline constexpr char kFrameStart = '\x1B';
inline constexpr char kFrameEnd = '\r';
// A frame start that has collected more bytes than this without a CR is noise.
inline constexpr std::size_t kMaxFrameBytes = 1024;
// The receive buffer never holds more than this; the oldest bytes give way.
inline constexpr std::size_t kMaxRxBuffBytes = 8192;

// Command texts (the frame body): "W1"/"W0", "B1"/"B0", "S<n>", "C".
std::string PowerCtrlCmd(bool Stat);
std::string BlackoutCmd(bool Stat);
std::string SelectChannelCmd(int32_t Channel);
std::string RequestStatusCmd();
// ESC + CmdStr + CR.
std::string BuildCmdFrame(const std::string& CmdStr);

// Appends received bytes to the buffer; if it would exceed kMaxRxBuffBytes the
// oldest bytes are dropped (a frame cut that way is discarded as stray bytes).
void AppendRxBytes(std::string& RxBuff, const char* Data, std::size_t Count);

// Outcome of one receive check.
enum class TRxCheckResult {
  Empty,      // nothing in the buffer
  Incomplete, // a frame start waits for its CR; the buffer changes only with new bytes
  Dropped,    // bytes without a frame start, an empty frame or noise were removed
  Frame,      // one frame was cut out; Body holds the text between ESC and CR
};

// One tick of the receive check. A buffer without ESC is emptied. A frame
// runs from the last ESC before the first CR to that CR; bytes ahead of it
// are dropped as noise, and so is an empty frame (ESC CR, alone) and a frame
// start with more than kMaxFrameBytes before its CR (or without one).
// Otherwise the frame is removed and its body returned. Never removes more
// than one frame. Once it returns Empty or Incomplete the buffer is empty or
// holds one frame start (ESC first, no other ESC, no CR, at most
// kMaxFrameBytes).
TRxCheckResult CheckRxBuff(std::string& RxBuff, std::string& Body);

// A reply argument that should be a digit or a state character is not.
class EAv90RConvertError : public EKavError {
public:
  using EKavError::EKavError;
};

// Decodes one reply body and reports it to Sink (may be null):
//   w d -> power d;  b d -> blackout d;  s n -> input n;
//   c d n -> power on, blackout d, input n, then ConditionCmd := body.
// Only the characters named are read; other first letters (also upper case)
// are ignored. A missing or invalid digit or state character throws
// EAv90RConvertError after the reports that came before it.
void DecodeReply(const std::string& RcvCmd, IAv90RStatusSink* Sink, std::string& ConditionCmd);

} // namespace kav
