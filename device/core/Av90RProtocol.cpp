#include "device/core/Av90RProtocol.h"

#include <algorithm>

namespace kav {

namespace {

// The Boolean argument of a command: False -> "0", True -> "1".
constexpr char kBoolChar[2] = {'0', '1'};

std::wstring QuotedByte(const std::string& Body, std::size_t Index) {
  if (Index >= Body.size()) return L"''";
  const unsigned char c = static_cast<unsigned char>(Body[Index]);
  if (c >= 0x20 && c < 0x7F) return std::wstring(L"'") + static_cast<wchar_t>(c) + L"'";
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  return std::wstring(L"#$") + kHex[c >> 4] + kHex[c & 0x0F];
}

// State character "0"/"1" at Index; anything else (or nothing) has no meaning.
bool StateAt(const std::string& Body, std::size_t Index) {
  if (Index < Body.size()) {
    if (Body[Index] == '0') return false;
    if (Body[Index] == '1') return true;
  }
  throw EAv90RConvertError(QuotedByte(Body, Index) + L" は状態値 (0/1) ではありません");
}

// One decimal digit at Index, 0..9.
int32_t DigitAt(const std::string& Body, std::size_t Index) {
  if (Index < Body.size() && Body[Index] >= '0' && Body[Index] <= '9') return Body[Index] - '0';
  throw EAv90RConvertError(QuotedByte(Body, Index) + L" は整数値ではありません");
}

} // namespace

std::string PowerCtrlCmd(bool Stat) { return std::string("W") + kBoolChar[Stat ? 1 : 0]; }

std::string BlackoutCmd(bool Stat) { return std::string("B") + kBoolChar[Stat ? 1 : 0]; }

std::string SelectChannelCmd(int32_t Channel) { return "S" + std::to_string(Channel); }

std::string RequestStatusCmd() { return "C"; }

std::string BuildCmdFrame(const std::string& CmdStr) {
  std::string frame;
  frame.reserve(CmdStr.size() + 2);
  frame += kFrameStart;
  frame += CmdStr;
  frame += kFrameEnd;
  return frame;
}

void AppendRxBytes(std::string& RxBuff, const char* Data, std::size_t Count) {
  if (Count >= kMaxRxBuffBytes) {
    // More than the buffer may hold arrived at once: only the newest bytes matter.
    RxBuff.assign(Data + (Count - kMaxRxBuffBytes), kMaxRxBuffBytes);
    return;
  }
  const std::size_t total = RxBuff.size() + Count;
  if (total > kMaxRxBuffBytes) RxBuff.erase(0, total - kMaxRxBuffBytes);
  RxBuff.append(Data, Count);
}

TRxCheckResult CheckRxBuff(std::string& RxBuff, std::string& Body) {
  Body.clear();
  if (RxBuff.empty()) return TRxCheckResult::Empty;

  const std::size_t e = RxBuff.find(kFrameStart);
  if (e == std::string::npos) {
    // Nothing here can become a frame.
    RxBuff.clear();
    return TRxCheckResult::Dropped;
  }
  std::size_t r = RxBuff.find(kFrameEnd, e);
  // The frame ends at the first CR and starts at the last ESC before it: an
  // ESC inside a body means its start was noise (or a reply lost its end),
  // and the real reply follows. Without a CR the same holds for the last ESC
  // received, so a settled buffer holds at most one frame start.
  const std::size_t last = RxBuff.rfind(kFrameStart, r == std::string::npos ? std::string::npos : r);
  const bool dropped = last > 0;
  if (dropped) {
    RxBuff.erase(0, last);
    if (r != std::string::npos) r -= last;
  }

  const std::size_t collected = (r == std::string::npos) ? RxBuff.size() : r;
  if (collected > kMaxFrameBytes) {
    // No real reply is this long: drop it as noise, with its CR if it has one.
    RxBuff.erase(0, r == std::string::npos ? RxBuff.size() : r + 1);
    return TRxCheckResult::Dropped;
  }
  if (r == std::string::npos) return dropped ? TRxCheckResult::Dropped : TRxCheckResult::Incomplete;
  if (r == 1) {
    // An empty frame (ESC CR) is noise of its own; what follows it is not.
    RxBuff.erase(0, 2);
    return TRxCheckResult::Dropped;
  }
  Body.assign(RxBuff, 1, r - 1);
  RxBuff.erase(0, r + 1);
  return TRxCheckResult::Frame;
}

void DecodeReply(const std::string& RcvCmd, IAv90RStatusSink* Sink, std::string& ConditionCmd) {
  if (RcvCmd.empty()) return;
  switch (RcvCmd[0]) {
  case 'w': {
    const bool stat = StateAt(RcvCmd, 1);
    if (Sink) Sink->DoProcess_RcvPowerStat(stat);
    break;
  }
  case 'b': {
    const bool stat = StateAt(RcvCmd, 1);
    if (Sink) Sink->DoProcess_RcvBlackoutStat(stat);
    break;
  }
  case 's': {
    const int32_t channel = DigitAt(RcvCmd, 1);
    if (Sink) Sink->DoProcess_RcvSelectChannel(channel);
    break;
  }
  case 'c': {
    // A status reply means the switcher is on. The order is fixed: the
    // communication test must stay unsatisfied if the input digit is bad.
    if (Sink) Sink->DoProcess_RcvPowerStat(true);
    const bool blackout = StateAt(RcvCmd, 1);
    if (Sink) Sink->DoProcess_RcvBlackoutStat(blackout);
    const int32_t channel = DigitAt(RcvCmd, 2);
    if (Sink) Sink->DoProcess_RcvSelectChannel(channel);
    ConditionCmd = RcvCmd;
    break;
  }
  default:
    break; // not a reply this program understands
  }
}

} // namespace kav
