#pragma once
// What the resident program asks of the device link. The main window talks to
// the switcher only through this, so its decisions can be tested against a
// fake; the real link (TmodComPort) is adapted to it on Windows.
#include <cstdint>
#include <string>

namespace kav {

class IAv90RDevice {
public:
  virtual ~IAv90RDevice() = default;

  // Moves the link to another port; failures are swallowed.
  virtual void SetComPort(const std::wstring& AComPort) = 0;
  // Power on/off ("W1"/"W0"); false when the port could not be opened or written.
  virtual bool ExecPowerCtrl(bool Stat) = 0;
  // Blackout on/off ("B1"/"B0").
  virtual bool ExecBlackout(bool Stat) = 0;
  // Select an input ("S" + number).
  virtual bool SelectChannel(int32_t Channel) = 0;
  // Ask for the status reply ("C").
  virtual bool SendRequestStatus() = 0;
  // Communication test on AComPort: true when a status reply arrived in time.
  virtual bool TestComPort(const std::wstring& AComPort) = 0;
  // Closes the channel now (its adapter is gone); the next command opens it again.
  virtual void ClosePort() = 0;
  // True while the channel is open.
  virtual bool Connected() const = 0;
  // True while the channel is being closed (messages of other processes are
  // served meanwhile; nothing can be sent then).
  virtual bool Closing() const { return false; }
  // True when the last attempt to open the port failed because an instance
  // of the program in another session (another signed-in account) holds it.
  virtual bool PortInUseElsewhere() const { return false; }
};

} // namespace kav
