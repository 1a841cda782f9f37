#pragma once
// What the settings dialog needs from the window that shows it (the status
// window): the question after closing, and the model name for its messages.
#include <windows.h>

#include <string>

namespace kav {

class IEnvSettingsHost {
public:
  virtual ~IEnvSettingsHost() = default;

  // Called when the dialog closes (OK, Cancel, close box), with the dialog's
  // own window: asks whether hot-key control is to be switched on again (the
  // question box is owned by Owner) and ends the dialog-open state.
  virtual void SelectHotKeyEnabled(HWND Owner) = 0;

  // Model name used in the communication-test messages ("KTX-AV90R", the
  // version resource's InternalName).
  virtual std::wstring ModelName() const = 0;
};

} // namespace kav
