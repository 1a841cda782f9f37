#pragma once
// The About dialog of the program family: product name, icon, description,
// model name, version, company, copyright and the maker's web address, all
// read from a version reader. Every text is a real STATIC/BUTTON child, so
// WM_GETTEXT (and the end-to-end probe) can read it; only the icon box is
// painted by hand.
#include <windows.h>

#include <functional>
#include <string>

#include "common/win/Handles.h"

namespace kav {

class TVersionInfo;

class TFormAbout {
public:
  // Child control ids, for tests and the end-to-end probe.
  enum : int {
    IdBevel = 100,
    IdProductName,
    IdIcon,
    IdDescription,
    IdInternalName,
    IdVersion,
    IdDLLName,
    IdDLLVersion,
    IdNote,
    IdCompany,
    IdCopyright,
    IdURL,
  };

  // The maker's web address shown by the link label.
  static const wchar_t KMakerUrl[];
  // Window class of the dialog.
  static const wchar_t KWindowClass[];

  // Owner may be null (the program passes none).
  explicit TFormAbout(HWND Owner = nullptr);
  ~TFormAbout();
  TFormAbout(const TFormAbout&) = delete;
  TFormAbout& operator=(const TFormAbout&) = delete;

  // Stores the reader to show; it is not owned and must outlive the dialog.
  void Init(const TVersionInfo* VersionInfo);

  // Creates the dialog, shows it centred on the screen and runs a modal loop
  // until it closes. Returns IDOK for the OK button, IDCANCEL for the close
  // box or Escape.
  int ShowModal();

  // The dialog window while it is shown (null otherwise).
  HWND Handle() const { return FHandle; }

  // Replaces how the link label opens its address (tests); an empty function
  // restores OpenWithShell. Returns the previous one.
  using TUrlOpener = std::function<void(const std::wstring& Url)>;
  static TUrlOpener SetUrlOpener(TUrlOpener Opener);

private:
  static LRESULT CALLBACK IconBoxProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
  static void RegisterClasses();
  LRESULT HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
  void CreateControls();
  void FormShow();
  void lblURLClick();
  void SetLabel(int Id, const std::wstring& Text);
  void FitLabel(int Id, bool WordWrap);
  void EndModal(int Result);

  HWND FOwner;
  HWND FHandle = nullptr;
  const TVersionInfo* FVersinInfo = nullptr;
  TFontHandle FFont;       // Tahoma, 12 px, Japanese character set
  TFontHandle FTitleFont;  // MS UI Gothic, 21 px, bold
  TFontHandle FUrlFont;    // Tahoma, 12 px, underlined
  int FModalResult = 0;
  bool FDone = false;
};

} // namespace kav
