// Receive buffer cutter and reply decoder under arbitrary bytes.
//
// The input is a script of chunks, as the serial line would deliver them:
//   control byte: bits 0-5 chunk length (63: a run, see below), bits 6-7 ticks;
//   then the chunk's bytes; a run is two bytes of count (little endian, 12 bits) and
//   the byte to repeat (up to 4095 times), so a few bytes of input can flood
//   the buffer.
// After each chunk the check runs the given number of ticks; at the end it
// runs until it settles. The script ends early once four times the buffer
// bound has been received. Checked on the way:
//   * the buffer never holds more than kMaxRxBuffBytes;
//   * each tick only takes bytes off the front, and a frame tick takes off
//     exactly ESC body CR after whatever noise it dropped ahead of it;
//   * a waiting buffer is one frame start: ESC first, no other ESC, no CR,
//     at most kMaxFrameBytes;
//   * the frames decoded are exactly those of a plain reading of the whole
//     stream (from the last ESC before each CR, body 1..kMaxFrameBytes - 1
//     bytes) whenever no byte had to give way to the buffer bound;
//   * decoding throws nothing but its conversion error, and the status
//     reply is remembered only when it decoded completely.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/core/Av90RProtocol.h"

#include "tests/fuzz/FuzzCheck.h"

namespace {

using kav::TRxCheckResult;

using kav::fuzz::Expect;
using kav::fuzz::Fail;

// Counts reports; the values are the decoder's business (unit tests).
class TCountingSink : public kav::IAv90RStatusSink {
public:
  int Reports = 0;
  void DoProcess_RcvPowerStat(bool) override { ++Reports; }
  void DoProcess_RcvBlackoutStat(bool) override { ++Reports; }
  void DoProcess_RcvSelectChannel(int32_t Channel) override {
    Expect(Channel >= 0 && Channel <= 9, "input outside one digit");
    ++Reports;
  }
};

// Frames of the whole stream, read plainly: each CR ends the text since the
// last ESC after the previous CR.
std::vector<std::string> ReferenceFrames(const std::string& Stream) {
  std::vector<std::string> frames;
  std::size_t start = std::string::npos;
  for (std::size_t i = 0; i < Stream.size(); ++i) {
    if (Stream[i] == kav::kFrameStart) {
      start = i;
    } else if (Stream[i] == kav::kFrameEnd) {
      if (start != std::string::npos && i - start >= 2 && i - start <= kav::kMaxFrameBytes)
        frames.push_back(Stream.substr(start + 1, i - start - 1));
      start = std::string::npos;
    }
  }
  return frames;
}

struct TReceiver {
  std::string Buff, Condition;
  std::vector<std::string> Frames;
  TCountingSink Sink;

  void CheckWaiting() const {
    Expect(Buff[0] == kav::kFrameStart, "waiting buffer does not start with ESC");
    Expect(Buff.find(kav::kFrameStart, 1) == std::string::npos, "waiting buffer holds two frame starts");
    Expect(Buff.find(kav::kFrameEnd) == std::string::npos, "waiting buffer holds a CR");
    Expect(Buff.size() <= kav::kMaxFrameBytes, "waiting frame start longer than a frame");
  }

  TRxCheckResult Tick() {
    const std::string before = Buff;
    std::string body = "left over";
    const TRxCheckResult result = kav::CheckRxBuff(Buff, body);
    Expect(Buff.size() <= before.size() && before.compare(before.size() - Buff.size(), Buff.size(), Buff) == 0,
           "a tick changed more than the front of the buffer");
    const std::size_t taken = before.size() - Buff.size();
    switch (result) {
    case TRxCheckResult::Empty:
      Expect(before.empty() && body.empty(), "Empty for a buffer with bytes");
      break;
    case TRxCheckResult::Incomplete:
      Expect(taken == 0 && body.empty(), "a waiting tick took bytes");
      CheckWaiting();
      break;
    case TRxCheckResult::Dropped:
      Expect(taken > 0 && body.empty(), "a drop took nothing");
      break;
    case TRxCheckResult::Frame: {
      Expect(!body.empty() && body.size() < kav::kMaxFrameBytes, "frame body length");
      Expect(body.find(kav::kFrameStart) == std::string::npos && body.find(kav::kFrameEnd) == std::string::npos,
             "frame body holds ESC or CR");
      const std::string frame = kav::kFrameStart + body + kav::kFrameEnd;
      Expect(taken >= frame.size() && before.compare(taken - frame.size(), frame.size(), frame) == 0,
             "a frame tick did not take ESC body CR last");
      Frames.push_back(body);
      const std::string condition = Condition;
      bool converted = true;
      try {
        kav::DecodeReply(body, &Sink, Condition);
      } catch (const kav::EAv90RConvertError&) {
        converted = false;
      }
      if (body[0] == 'c' && converted)
        Expect(Condition == body, "a decoded status reply was not remembered");
      else
        Expect(Condition == condition, "the status reply changed without one");
      break;
    }
    }
    return result;
  }

  void Settle() {
    // Every tick but the last takes at least one byte.
    for (std::size_t guard = Buff.size() + 2; guard > 0; --guard) {
      const TRxCheckResult r = Tick();
      if (r == TRxCheckResult::Empty || r == TRxCheckResult::Incomplete) return;
    }
    Fail("the check never settles");
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
  TReceiver rx;
  std::string stream;
  bool overflowed = false;
  std::size_t i = 0;
  // Four times the buffer bound is flood enough; more only slows the search.
  while (i < Size && stream.size() < 4 * kav::kMaxRxBuffBytes) {
    const uint8_t control = Data[i++];
    const int ticks = control >> 6;
    std::size_t length = control & 0x3F;
    std::string chunk;
    if (length == 0x3F) {
      if (Size - i < 3) break;
      const std::size_t count = (Data[i] | (static_cast<std::size_t>(Data[i + 1]) << 8)) & 0x0FFF;
      chunk.assign(count, static_cast<char>(Data[i + 2]));
      i += 3;
    } else {
      length = std::min(length, Size - i);
      chunk.assign(reinterpret_cast<const char*>(Data + i), length);
      i += length;
    }
    if (rx.Buff.size() + chunk.size() > kav::kMaxRxBuffBytes) overflowed = true;
    kav::AppendRxBytes(rx.Buff, chunk.data(), chunk.size());
    Expect(rx.Buff.size() <= kav::kMaxRxBuffBytes, "buffer over its bound");
    stream += chunk;
    for (int t = 0; t < ticks; ++t) rx.Tick();
  }
  rx.Settle();
  if (!rx.Buff.empty()) rx.CheckWaiting();
  if (!overflowed && rx.Frames != ReferenceFrames(stream)) Fail("frames differ from a plain reading of the stream");
  return 0;
}
