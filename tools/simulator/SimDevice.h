#pragma once
// What the simulated switcher does with the bytes it receives: cuts command
// frames (ESC text CR) out of the stream and answers them the way the device
// does. No I/O here.
#include <cstddef>
#include <string>
#include <vector>

namespace sim {

class SimDevice {
public:
  bool Power = false;
  bool Blackout = false;
  int Input = 1;

  // Feeds received bytes; returns the texts of the frames they completed.
  std::vector<std::string> Feed(const char* Data, std::size_t Count);
  // The reply body to one command text, or "" when the switcher says nothing
  // (unknown command, out-of-range input, or power off for anything but W).
  std::string Answer(const std::string& Cmd);

private:
  std::string FPending;
  bool FInFrame = false;
};

// Frame text for a log line or control answer: printable ASCII as is, the rest as \u00XX.
std::string JsonEscape(const std::string& Text);

} // namespace sim
