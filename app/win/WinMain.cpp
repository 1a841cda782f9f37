// Process entry of KAV90R_HotKeyController.exe.
#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "app/win/Application.h"
#include "app/win/ComPortDevice.h"
#include "app/win/EnvSettingsForm.h"
#include "app/win/ExceptionLogger.h"
#include "app/win/HttpRemoteServer.h"
#include "app/win/RemoteControl.h"
#include "app/win/SingleInstance.h"
#include "app/win/frmMain.h"
#include "common/core/PathRules.h"
#include "common/win/KCL_AppData.h"
#include "common/win/KCL_EventLog.h"
#include "device/win/dmComPort.h"
#include "settings/win/frmEnvSettings.h"

namespace {

// The process-wide objects, created in the order FormMain, FormEnvSettings,
// modComPort and destroyed in the reverse order.
struct TProgram {
  std::unique_ptr<kav::TFormMain> FormMain;
  std::unique_ptr<kav::TFormEnvSettings> FormEnvSettings;
  std::unique_ptr<kav::TEnvSettingsFormAdapter> EnvSettingsForm;
  std::unique_ptr<kav::TmodComPort> modComPort;
  std::unique_ptr<kav::TComPortDevice> Device;
  std::unique_ptr<kav::THttpRemoteServer> HttpRemote; // only when the settings file turns it on

  void Create(kav::TApplication& App) {
    FormMain = std::make_unique<kav::TFormMain>(App);
    FormEnvSettings = std::make_unique<kav::TFormEnvSettings>(App.Handle(), *FormMain);
    EnvSettingsForm = std::make_unique<kav::TEnvSettingsFormAdapter>(*FormEnvSettings);
    FormMain->SetEnvSettingsForm(EnvSettingsForm.get());
    modComPort = std::make_unique<kav::TmodComPort>(FormMain.get());
    Device = std::make_unique<kav::TComPortDevice>(*modComPort);
    FormMain->SetComPortModule(Device.get());
    // The dialog's communication test is the device link's.
    FormEnvSettings->SetComPortTestFunc(
        [Link = modComPort.get()](const std::wstring& Port) { return Link->TestComPort(Port); });
    // The network remote: its commands reach FormMain through the
    // application window's WM_COPYDATA, like a second start's.
    HttpRemote = kav::StartHttpRemote(App.Handle());
    if (HttpRemote) FormMain->SetStatusChangedHandler([this] { HttpRemote->PublishStatus(*FormMain); });
  }

  void Destroy() {
    if (FormMain) FormMain->SetStatusChangedHandler(nullptr);
    HttpRemote.reset();
    if (FormMain) FormMain->SetComPortModule(nullptr);
    if (FormEnvSettings) FormEnvSettings->SetComPortTestFunc(nullptr);
    Device.reset();
    modComPort.reset();
    if (FormMain) FormMain->SetEnvSettingsForm(nullptr);
    EnvSettingsForm.reset();
    FormEnvSettings.reset();
    FormMain.reset();
  }
};

} // namespace

int WINAPI wWinMain(HINSTANCE Instance, HINSTANCE, PWSTR, int) {
  // Nothing may be loaded from the program's own folder (DLL planting).
  // Looked up, not imported: Windows 7 has it only with its update KB2533623,
  // and without that update an import would keep the program from starting.
  using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
  if (const auto setDefaultDllDirectories = reinterpret_cast<TSetDefaultDllDirectories>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"))))
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  else
    SetDllDirectoryW(L""); // at least not the current folder
  kav::TExceptionLogger::Install();

  // A command for the running program ("/power on", "/status", "/exit" ...)? A
  // malformed one is answered before the guard, so its box holds nothing up.
  const std::vector<std::wstring> arguments = kav::CommandLineArguments();
  const kav::TRemoteCommandLine remote = kav::ParseRemoteCommandLine(arguments);
  if (remote.Kind == kav::TRemoteCommandLine::TKind::Malformed) return kav::ShowRemoteUsage();
  const bool hasCommand = remote.Kind == kav::TRemoteCommandLine::TKind::Command;

  kav::TSingleInstanceGuard guard(kav::GetFileBaseName(kav::GetExeFullPath()));
  if (!guard.IsFirstInstance()) {
    if (hasCommand) {
      try {
        return kav::HandOverRemoteCommand(guard, remote.Command);
      } catch (...) {
        return kav::KRemoteExitNotDone;
      }
    }
    guard.ActivateRunningInstance(GetCommandLineW());
    return 0;
  }
  // Nobody to ask or to end: /status and /exit start nothing.
  if (hasCommand)
    if (const auto code = kav::RemoteExitCodeWithNothingRunning(remote.Command)) return *code;
  // Any other command starts the resident program as a process of its own
  // and ends with the command's exit code: a scheduled task or a script that
  // started this one must see it end.
  if (hasCommand) {
    try {
      return kav::StartResidentAndHandOver(guard, remote.Command, kav::ResidentStartArguments(arguments));
    } catch (...) {
      return kav::KRemoteExitNotDone;
    }
  }

  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_HOTKEY_CLASS};
  InitCommonControlsEx(&icc);

  kav::TApplication app(Instance);
  guard.MarkApplicationWindow(app.Handle());

  TProgram program;
  // Windows ends the process right after WM_ENDSESSION: shut down in order there.
  app.SetEndSessionHandler([&program] {
    if (program.FormMain) program.FormMain->SetUnattendedEnd();
    program.Destroy();
  });
  // Commands of later starts; until the status window exists they are asked to wait.
  app.SetCopyDataHandler([&program, &app](WPARAM Sender, const COPYDATASTRUCT& Data) -> LRESULT {
    return kav::ServeRemoteCommand(program.FormMain.get(), app.Handle(), Sender, Data);
  });
  int exitCode = 1;
  try {
    program.Create(app);
    exitCode = app.Run();
  } catch (...) {
    // A window or the device link could not be created: say so and leave
    // rather than run without them.
    app.ShowException(std::current_exception());
  }
  program.Destroy();
  app.SetCopyDataHandler(nullptr);
  return exitCode;
}
