; Windows installer of KAV90R_HotKeyController (NSIS 3, Unicode, Japanese).
;
; Built by scripts/release.sh, which passes:
;   /DKAV_VERSION=1.1.1.10      four-part version, from the version resource
;   /DKAV_EXE=path              the program to install
;   /DKAV_DOC_DIR=path          folder with UserGuide.html and images/
;   /DKAV_OUTFILE=path          installer to write
;   /DKAV_PUBLISHER=text        company name of the version resource (optional)
;   /DKAV_COPYRIGHT=text        copyright line of the version resource (optional)
;   /DKAV_ICON=path.ico         installer icon (optional)
;   /DKAV_TARGET_AMD64          64-bit installer stub and 64-bit Program Files;
;                               only for the install check, whose machines
;                               cannot run 32-bit code
;
; Silent use:  setup.exe /S [/NOSTARTUP] [/INI=C:\path\file.ini] [/D=C:\path]
;              uninstall.exe /S [/REMOVEDATA] [_?=C:\path]
; Exit codes: 0 done, 1 cancelled by the person, 2 stopped: the program could
; not be ended, the /INI= file is missing or unreadable, or Windows is older
; than 7 (or Windows 7 lacks the update KB2533623).
; The settings and logs under ProgramData\KOVA\KAV90R_HotKeyController are kept
; by the uninstaller unless the person ticks the box (or passes /REMOVEDATA):
; a reinstall or an update then finds the chosen port and hot keys again.
; /INI= replaces the settings file there with a prepared one.

Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifdef KAV_TARGET_AMD64
  Target amd64-unicode
!endif

!ifndef KAV_VERSION
  !error "KAV_VERSION is not defined"
!endif
!ifndef KAV_EXE
  !error "KAV_EXE is not defined"
!endif
!ifndef KAV_DOC_DIR
  !error "KAV_DOC_DIR is not defined"
!endif
!ifndef KAV_OUTFILE
  !error "KAV_OUTFILE is not defined"
!endif
!ifndef KAV_PUBLISHER
  !define KAV_PUBLISHER "KOVA"
!endif
!ifndef KAV_COPYRIGHT
  !define KAV_COPYRIGHT "${KAV_PUBLISHER}"
!endif

!define APP_BASE "KAV90R_HotKeyController"
!define APP_EXE "${APP_BASE}.exe"
!define PRODUCT_NAME "KTX-AV90R制御ソフト"
!define VENDOR_FOLDER "KOVA"
!define UNINSTALLER "uninstall.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP_BASE}"
; The program registers the same key and values itself when it runs elevated;
; the installer does it so that event records read well from the first start.
!define EVENTLOG_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\${APP_BASE}"
; The data folder (settings and logs), as the program computes it; $APPDATA
; is ProgramData under SetShellVarContext all.
!define DATA_DIR "$APPDATA\${VENDOR_FOLDER}\${APP_BASE}"
; lParam of the session-end messages (WinMessages.nsh has the messages) with
; which Restart Manager ends a program while Windows keeps running.
!define ENDSESSION_CLOSEAPP 0x00000001

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"
!include "WinVer.nsh"
!include "WordFunc.nsh"

Name "${PRODUCT_NAME}"
Caption "${PRODUCT_NAME} ${KAV_VERSION} セットアップ"
UninstallCaption "${PRODUCT_NAME} のアンインストール"
OutFile "${KAV_OUTFILE}"
BrandingText "${PRODUCT_NAME} ${KAV_VERSION}"
!ifdef KAV_TARGET_AMD64
  InstallDir "$PROGRAMFILES64\${VENDOR_FOLDER}\${APP_BASE}"
!else
  InstallDir "$PROGRAMFILES\${VENDOR_FOLDER}\${APP_BASE}"
!endif
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${KAV_VERSION}"
VIFileVersion "${KAV_VERSION}"
VIAddVersionKey /LANG=1041 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=1041 "FileDescription" "${PRODUCT_NAME} セットアップ"
VIAddVersionKey /LANG=1041 "CompanyName" "${KAV_PUBLISHER}"
VIAddVersionKey /LANG=1041 "FileVersion" "${KAV_VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${KAV_VERSION}"
VIAddVersionKey /LANG=1041 "LegalCopyright" "${KAV_COPYRIGHT}"

!define MUI_ABORTWARNING
!ifdef KAV_ICON
  !define MUI_ICON "${KAV_ICON}"
  !define MUI_UNICON "${KAV_ICON}"
!endif
!define MUI_COMPONENTSPAGE_NODESC

!define MUI_WELCOMEPAGE_TEXT "${PRODUCT_NAME} ${KAV_VERSION} をインストールします。$\r$\n$\r$\nKTX-AV90R をキーボードのホットキーで操作する常駐ソフトです。通知領域（タスクトレイ）に常駐し、COMポートでKTX-AV90Rに接続します。$\r$\n$\r$\n起動中の ${PRODUCT_NAME} は、ファイルをコピーする前に自動で終了します。$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!define MUI_COMPONENTSPAGE_TEXT_TOP "インストールする項目を選んでください。「スタートアップに登録」を選ぶと、Windows にサインインしたときに自動で起動します。"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "${PRODUCT_NAME} を起動する"
!define MUI_FINISHPAGE_RUN_FUNCTION LaunchProgram
!define MUI_FINISHPAGE_SHOWREADME ""
!define MUI_FINISHPAGE_SHOWREADME_TEXT "ユーザーガイドを開く"
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION ShowGuide
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_TEXT_TOP "設定（COMポート、ホットキー）とログは、再インストールしたときのために残します。削除する場合はチェックを付けてください。"
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Japanese"

; Ends the program the way Restart Manager does, which every version
; understands as a session end: no question, the power-down rule, the exit
; log line. The query goes to the status window first (its close query
; powers the switcher down), then to the application window; the end to
; both, because versions before this one end only at the application
; window's. Our windows are known by class and the exact product name as
; title: other programs use the same class names.
!macro KAV_SEND_TO_PROGRAM CLASS MSG WPARAM
  StrCpy $2 0
  ${Do}
    FindWindow $2 "${CLASS}" "${PRODUCT_NAME}" 0 $2
    ${If} $2 = 0
      ${ExitDo}
    ${EndIf}
    SendMessage $2 ${MSG} ${WPARAM} ${ENDSESSION_CLOSEAPP} $3 /TIMEOUT=5000
  ${Loop}
!macroend

; Replacing or removing the program while it runs would fail half-way, so
; both directions first end it and wait for its process to let go of the
; executable (a running executable cannot be opened for writing).
!macro KAV_WAIT_UNTIL_CLOSED UN
; $0 := 1 while the installed program runs (its executable is in use).
Function ${UN}ProgramInUse
  StrCpy $0 0
  ${If} ${FileExists} "$INSTDIR\${APP_EXE}"
    ClearErrors
    FileOpen $1 "$INSTDIR\${APP_EXE}" a
    ${If} ${Errors}
      StrCpy $0 1
    ${Else}
      FileClose $1
    ${EndIf}
  ${EndIf}
FunctionEnd

Function ${UN}EndProgram
  !insertmacro KAV_SEND_TO_PROGRAM "TFormMain" ${WM_QUERYENDSESSION} 0
  !insertmacro KAV_SEND_TO_PROGRAM "TApplication" ${WM_QUERYENDSESSION} 0
  !insertmacro KAV_SEND_TO_PROGRAM "TFormMain" ${WM_ENDSESSION} 1
  !insertmacro KAV_SEND_TO_PROGRAM "TApplication" ${WM_ENDSESSION} 1
FunctionEnd

Function ${UN}WaitUntilClosed
  retry:
    Call ${UN}ProgramInUse
    StrCmp $0 0 done
    DetailPrint "起動中の ${PRODUCT_NAME} を終了します。"
    Call ${UN}EndProgram
    ; Up to ten seconds for its process to end.
    StrCpy $4 0
  wait:
    Call ${UN}ProgramInUse
    StrCmp $0 0 done
    IntCmp $4 50 busy
    Sleep 200
    IntOp $4 $4 + 1
    Goto wait
  busy:
    ; Still running: a copy in another person's session (its windows are
    ; out of reach), or one that did not end.
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "${PRODUCT_NAME} を終了できませんでした。$\r$\n別のユーザーのセッションで起動しているか、プログラムが応答していません。$\r$\nそのユーザーのタスクトレイのアイコンを右クリックして「終了(X)」を選ぶか、タスク マネージャーで終了してから、[再試行] を押してください。" \
      /SD IDCANCEL IDRETRY retry
    DetailPrint "${PRODUCT_NAME} を終了できなかったため中止しました（別のユーザーのセッションで起動中か、応答がありません）。"
    SetErrorLevel 2
    Abort
  done:
FunctionEnd
!macroend
!insertmacro KAV_WAIT_UNTIL_CLOSED ""
!insertmacro KAV_WAIT_UNTIL_CLOSED "un."

; The Startup shortcut lives in the all-users folder; versions before it put
; it in the installing person's own folder. Both go.
!macro KAV_REMOVE_STARTUP_SHORTCUTS UN
Function ${UN}RemoveStartupShortcuts
  SetShellVarContext all
  Delete "$SMSTARTUP\${PRODUCT_NAME}.lnk"
  SetShellVarContext current
  Delete "$SMSTARTUP\${PRODUCT_NAME}.lnk"
  SetShellVarContext all
FunctionEnd
!macroend
!insertmacro KAV_REMOVE_STARTUP_SHORTCUTS ""
!insertmacro KAV_REMOVE_STARTUP_SHORTCUTS "un."

Var IniSource ; the settings file given with /INI=, as a full path

Section "${PRODUCT_NAME}（必須）" SecProgram
  SectionIn RO
  Call WaitUntilClosed
  SetShellVarContext all

  ; The data folder, made here with the grant the program gives the folder
  ; it makes: modify for Users, named by the well-known SID (the group's name
  ; is localised), inherited by its files and folders. A settings file put
  ; here (by /INI= or by hand) then stays writable for whoever signs in. The
  ; grant is given to a folder that already exists too, and after the copy,
  ; so that file gets it as well.
  CreateDirectory "${DATA_DIR}"
  ${If} $IniSource != ""
    ClearErrors
    CopyFiles /SILENT "$IniSource" "${DATA_DIR}\${APP_BASE}.ini"
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONSTOP "設定ファイル $IniSource を ${DATA_DIR} にコピーできませんでした。" /SD IDOK
      DetailPrint "設定ファイルをコピーできなかったため中止しました。"
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "${DATA_DIR}" /grant:r *S-1-5-32-545:(OI)(CI)M'
  Pop $0
  ${If} $0 != 0
    DetailPrint "データフォルダーのアクセス許可を設定できませんでした（$0）。"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "/oname=${APP_EXE}" "${KAV_EXE}"
  SetOutPath "$INSTDIR\doc"
  File /r "${KAV_DOC_DIR}\*.*"
  SetOutPath "$INSTDIR"

  ; The start-up choice is made afresh: drop the Startup shortcut of an
  ; earlier install, from the all-users folder and from the installing
  ; person's own one, where earlier versions put it (kept, it would start the
  ; program twice at sign-in, or despite /NOSTARTUP).
  Call RemoveStartupShortcuts

  ; Application event-log source, as the program writes it (REG_SZ path, 7).
  WriteRegStr HKLM "${EVENTLOG_KEY}" "EventMessageFile" "$INSTDIR\${APP_EXE}"
  WriteRegDWORD HKLM "${EVENTLOG_KEY}" "TypesSupported" 7

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${KAV_VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${KAV_PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${APP_EXE},0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "スタートメニューに登録" SecStartMenu
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${PRODUCT_NAME}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT_NAME}\${PRODUCT_NAME}.lnk" "$INSTDIR\${APP_EXE}" "" "$INSTDIR\${APP_EXE}" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT_NAME}\ユーザーガイド.lnk" "$INSTDIR\doc\UserGuide.html"
SectionEnd

; The all-users Startup folder, like every other part of this per-machine
; install. The installer runs elevated, maybe with an administrator's password
; typed in by someone else: "the current user" is then that administrator,
; whose profile is the wrong place for the person who signs in here.
Section "スタートアップに登録（サインイン時に起動）" SecStartup
  SetShellVarContext all
  CreateDirectory "$SMSTARTUP"
  CreateShortcut "$SMSTARTUP\${PRODUCT_NAME}.lnk" "$INSTDIR\${APP_EXE}" "" "$INSTDIR\${APP_EXE}" 0
SectionEnd

; The program declares Windows 7 to 11 in its manifest; it is not installed
; where it cannot run. Its first call, SetDefaultDllDirectories, came to
; Windows 7 with the update KB2533623 (Windows 8 and later have it).
!macro KAV_REQUIRE_WINDOWS_7
  ${IfNot} ${AtLeastWin7}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT_NAME} は Windows 7 以降で動作します。" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  System::Call 'kernel32::GetModuleHandleW(w "kernel32.dll") p.r0'
  System::Call 'kernel32::GetProcAddress(p r0, m "SetDefaultDllDirectories") p.r0'
  ${If} $0 == 0
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT_NAME} を Windows 7 で使うには、Windows Update で更新プログラム KB2533623 を適用してください。" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!macroend

Function .onInit
  !insertmacro KAV_REQUIRE_WINDOWS_7
  !ifdef KAV_TARGET_AMD64
    SetRegView 64
  !endif
  SetShellVarContext all
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/NOSTARTUP" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecStartup} 0
  ${EndIf}
  ; Checked before anything changes: a mistyped path must not give a PC
  ; the default settings unnoticed. PowerShell passes /INI="C:\a b\x.ini"
  ; as "/INI=C:\a b\x.ini", which GetOptions would skip as quoted text:
  ; both forms are read alike.
  ${WordReplace} $R0 '"/INI=' '/INI="' "+" $R0
  ClearErrors
  ${GetOptions} $R0 "/INI=" $R1
  ${IfNot} ${Errors}
    GetFullPathName $IniSource $R1
    ${If} $IniSource == ""
    ${OrIfNot} ${FileExists} "$IniSource"
    ${OrIf} ${FileExists} "$IniSource\*.*"
      MessageBox MB_OK|MB_ICONSTOP "/INI= で指定した設定ファイル $R1 が見つかりません。" /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

; The installer runs elevated; starting the program through the shell gives
; it the person's ordinary rights, as every later start from a shortcut has.
Function LaunchProgram
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\${APP_EXE}"'
FunctionEnd

Function ShowGuide
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\doc\UserGuide.html"'
FunctionEnd

Section "-un.Program" SecUnProgram
  Call un.WaitUntilClosed
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT_NAME}\${PRODUCT_NAME}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT_NAME}\ユーザーガイド.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT_NAME}"
  Call un.RemoveStartupShortcuts

  Delete "$INSTDIR\${APP_EXE}"
  RMDir /r "$INSTDIR\doc"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  ; The default place is Program Files\KOVA\<program>: an emptied KOVA
  ; folder goes too, any other parent folder is left alone.
  ${un.GetParent} "$INSTDIR" $R0
  ${un.GetFileName} "$R0" $R1
  ${If} $R1 == "${VENDOR_FOLDER}"
    RMDir "$R0"
  ${EndIf}

  DeleteRegKey HKLM "${EVENTLOG_KEY}"
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd

Section /o "un.設定ファイルとログも削除する" SecUnData
  SetShellVarContext all
  RMDir /r "${DATA_DIR}"
  ; The vendor folder may hold other programs' data: only an empty one goes.
  RMDir "$APPDATA\${VENDOR_FOLDER}"
SectionEnd

Function un.onInit
  !ifdef KAV_TARGET_AMD64
    SetRegView 64
  !endif
  SetShellVarContext all
  ${un.GetParameters} $R0
  ClearErrors
  ${un.GetOptions} $R0 "/REMOVEDATA" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecUnData} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
