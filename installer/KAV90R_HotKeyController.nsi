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
; Silent use:  setup.exe /S [/NOSTARTUP] [/D=C:\path]
;              uninstall.exe /S [/REMOVEDATA]
; The settings and logs under ProgramData\KOVA\KAV90R_HotKeyController are kept
; by the uninstaller unless the person ticks the box (or passes /REMOVEDATA):
; a reinstall or an update then finds the chosen port and hot keys again.

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

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

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

!define MUI_WELCOMEPAGE_TEXT "${PRODUCT_NAME} ${KAV_VERSION} をインストールします。$\r$\n$\r$\nKTX-AV90R をキーボードのホットキーで操作する常駐ソフトです。通知領域（タスクトレイ）に常駐し、COMポートでKTX-AV90Rに接続します。$\r$\n$\r$\n起動中の ${PRODUCT_NAME} があれば、タスクトレイのメニューの「終了」で終了してから続けてください。$\r$\n$\r$\n$_CLICK"
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

; Replacing or removing the program while it runs would fail half-way, so
; both directions first make sure it is not running. A running executable
; cannot be opened for writing, which needs no knowledge of its windows.
!macro KAV_WAIT_UNTIL_CLOSED UN
Function ${UN}WaitUntilClosed
  retry:
    IfFileExists "$INSTDIR\${APP_EXE}" 0 done
    ClearErrors
    FileOpen $0 "$INSTDIR\${APP_EXE}" a
    IfErrors busy
    FileClose $0
    Goto done
  busy:
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "${PRODUCT_NAME} が起動中です。$\r$\nタスクトレイのアイコンを右クリックして「終了(X)」を選んでから、[再試行] を押してください。" \
      /SD IDCANCEL IDRETRY retry
    DetailPrint "${PRODUCT_NAME} が起動中のため中止しました。"
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

Section "${PRODUCT_NAME}（必須）" SecProgram
  SectionIn RO
  Call WaitUntilClosed
  SetShellVarContext all
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
Section "スタートアップに登録（Windows の起動時に自動で起動）" SecStartup
  SetShellVarContext all
  CreateDirectory "$SMSTARTUP"
  CreateShortcut "$SMSTARTUP\${PRODUCT_NAME}.lnk" "$INSTDIR\${APP_EXE}" "" "$INSTDIR\${APP_EXE}" 0
SectionEnd

Function .onInit
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
  RMDir /r "$APPDATA\${VENDOR_FOLDER}\${APP_BASE}"
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
