#include "SimDevice.h"

#include <cstdio>

namespace sim {

namespace {
constexpr char kEsc = '\x1B';
constexpr char kCr = '\r';
// A real command is a few bytes; anything this long without CR is line noise.
constexpr std::size_t kMaxCmd = 4096;
} // namespace

std::vector<std::string> SimDevice::Feed(const char* Data, std::size_t Count) {
  std::vector<std::string> frames;
  for (std::size_t i = 0; i < Count; ++i) {
    const char c = Data[i];
    if (c == kEsc) {
      FPending.clear();
      FInFrame = true;
    } else if (!FInFrame) {
      continue; // bytes outside a frame mean nothing to the switcher
    } else if (c == kCr) {
      frames.push_back(FPending);
      FPending.clear();
      FInFrame = false;
    } else if (FPending.size() < kMaxCmd) {
      FPending += c;
    } else {
      FPending.clear();
      FInFrame = false;
    }
  }
  return frames;
}

std::string SimDevice::Answer(const std::string& Cmd) {
  if (Cmd.empty()) return "";
  const std::string arg = Cmd.substr(1);
  switch (Cmd[0]) {
  case 'W':
    if (arg != "0" && arg != "1") return "";
    Power = arg == "1";
    return "w" + arg;
  case 'B':
    if (!Power || (arg != "0" && arg != "1")) return "";
    Blackout = arg == "1";
    return "b" + arg;
  case 'S':
    if (!Power || arg.size() != 1 || arg[0] < '1' || arg[0] > '8') return "";
    Input = arg[0] - '0';
    return "s" + arg;
  case 'C':
    if (!Power || !arg.empty()) return "";
    return std::string("c") + (Blackout ? '1' : '0') + static_cast<char>('0' + Input);
  default:
    return "";
  }
}

std::string JsonEscape(const std::string& Text) {
  std::string out;
  for (unsigned char c : Text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != ',') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", c);
      out += buf;
    }
  }
  return out;
}

} // namespace sim
