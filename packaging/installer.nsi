; The per-user Windows installer of Nerova桥: no administrator prompt, installs to
; %LOCALAPPDATA%\Programs\NerovaBridge, a Start-menu shortcut, an entry in the user's installed
; programs, and an uninstaller that keeps the user's data folder. Built by the `installer` target:
;   makensis -INPUTCHARSET UTF8 -DVERSION=0.1.0 -DBRIDGE_EXE=NerovaBridge.exe -DOUT_FILE=setup.exe installer.nsi
; Switches: /S silent; /START also starts the helper after a silent install (a copy that was running
; is started again anyway); /AUTOSTART turns start at login on in a silent install; /D=DIR another
; folder. Signing (scripts/package): SIGN_COMMAND signs a file in place, given its path, and runs on
; the uninstaller and the installer as NSIS writes them; PLUGIN_DIR holds signed copies of the
; plug-ins the installer carries.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!ifndef VERSION | BRIDGE_EXE | OUT_FILE
  !error "define VERSION, BRIDGE_EXE and OUT_FILE"
!endif
!ifndef BRAND_ICON
  !define BRAND_ICON "${__FILEDIR__}/../assets/brand.ico"
!endif
!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
  !finalize '${SIGN_COMMAND} "%1"' = 0
!endif
!ifdef PLUGIN_DIR
  !addplugindir /amd64-unicode "${PLUGIN_DIR}"
!endif
!ifndef MAIN_SITE_URL
  !define MAIN_SITE_URL "https://nerova.example.com"
!endif

!define PRODUCT_NAME "Nerova桥"
!define PUBLISHER "Nerova"
!define EXE_NAME "NerovaBridge.exe"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT_NAME}.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\NerovaBridge"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
!define RUN_VALUE "NerovaBridge"
!define HWND_MESSAGE -3
!define SHOW_STATUS_CARD "NerovaBridge.ShowStatusCard"  ; what a second start posts to the running copy
!define SYNCHRONIZE 0x00100000
!ifndef QUIT_WAIT_MS
  !define QUIT_WAIT_MS 10000  ; how long a running copy may take to quit, per step
!endif

Name "${PRODUCT_NAME}"
OutFile "${OUT_FILE}"
InstallDir "$LOCALAPPDATA\Programs\NerovaBridge"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
; A file that cannot be written must stop the install: skipping it would leave the old helper.
AllowSkipFiles off
BrandingText "${PRODUCT_NAME} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT_NAME} 安装程序"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include WinMessages.nsh

!define MUI_ICON "${BRAND_ICON}"
!define MUI_UNICON "${BRAND_ICON}"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "$(WELCOME)"
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION start_and_show
; The second check box of the finish page: a new icon sits in the overflow and nothing starts it
; after the next reboot, so the product's page would find no helper.
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "开机自启"
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION enable_start_at_login
!define MUI_UNCONFIRMPAGE_TEXT_TOP "$(KEEPS_DATA)"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; Windows' UI language picks one; the first is the fallback.
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString WELCOME ${LANG_SIMPCHINESE} "此程序将为当前用户安装 ${PRODUCT_NAME} ${VERSION}，无需管理员权限。$\r$\n$\r$\n如果 ${PRODUCT_NAME} 正在运行，安装程序会先让它退出，安装完成后再启动新版本。$\r$\n$\r$\n点击“安装”开始安装。"
LangString WELCOME ${LANG_ENGLISH} "This installs ${PRODUCT_NAME} ${VERSION} for the current user; no administrator rights are needed.$\r$\n$\r$\nIf ${PRODUCT_NAME} is running, it is asked to quit first and the new version starts when the install ends.$\r$\n$\r$\nClick Install to start."
LangString KEEPS_DATA ${LANG_SIMPCHINESE} "您的数据文件夹 $APPDATA\NerovaBridge（访问令牌 token.txt 和日志 popup.log）会保留，不被删除。"
LangString KEEPS_DATA ${LANG_ENGLISH} "Your data folder $APPDATA\NerovaBridge (the access token token.txt and the log popup.log) is kept."
LangString STILL_RUNNING ${LANG_SIMPCHINESE} "${PRODUCT_NAME} 仍在运行，未能退出。请在托盘菜单中选择“退出助手”，然后点“重试”。"
LangString STILL_RUNNING ${LANG_ENGLISH} "${PRODUCT_NAME} is still running. Quit it from its tray menu (退出助手), then choose Retry."

Var start_after  ; 1: start the installed helper when a silent install ends
Var autostart    ; 1: turn start at login on when a silent install ends
Var was_running  ; 1: close_running asked a copy to quit

; Asks every running copy to quit through its tray's own quit path (WM_CLOSE to the message-only
; tray host window) and waits until its process has ended, so its files can be replaced. A copy
; that does not end in time (or whose process cannot be waited for) stops the install, unless the
; user quits it and retries; it is never killed.
!macro CLOSE_RUNNING un
Function ${un}close_running
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $was_running 0
  ${Do}
    FindWindow $0 "ORVATrayHidden" "" ${HWND_MESSAGE}
    ${If} $0 = 0
      ${ExitDo}
    ${EndIf}
    StrCpy $was_running 1
    DetailPrint "${PRODUCT_NAME}: WM_CLOSE"
    ; The process handle is taken first, so the wait is for this process, whatever happens to the window.
    System::Call "user32::GetWindowThreadProcessId(p r0, *i 0 r1) i"
    System::Call "kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2"
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=${QUIT_WAIT_MS}
    StrCpy $3 1
    ${If} $2 P<> 0
      System::Call "kernel32::WaitForSingleObject(p r2, i ${QUIT_WAIT_MS}) i .r3"
      System::Call "kernel32::CloseHandle(p r2)"
    ${EndIf}
    ${If} $3 <> 0
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(STILL_RUNNING)" /SD IDCANCEL IDRETRY +2
      Abort "$(STILL_RUNNING)"
    ${EndIf}
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING ""
!insertmacro CLOSE_RUNNING "un."

Function .onInit
  StrCpy $start_after 0
  StrCpy $autostart 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/START" $1
  ${IfNot} ${Errors}
    StrCpy $start_after 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART" $1
  ${IfNot} ${Errors}
    StrCpy $autostart 1
  ${EndIf}
FunctionEnd

; The value the helper's own menu writes: the quoted path; a record of it turned off goes, since
; the user has just asked for it.
Function enable_start_at_login
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${EXE_NAME}"'
  DeleteRegValue HKCU "${APPROVED_KEY}" "${RUN_VALUE}"
FunctionEnd

; Starts the helper and, once its tray is up, asks it to open its status card as a second start
; would, so the user sees where it lives. A helper that does not come up in time is left alone.
Function start_and_show
  Push $0
  Push $1
  Push $2
  Exec '"$INSTDIR\${EXE_NAME}"'
  StrCpy $2 0
  ${Do}
    FindWindow $0 "ORVATrayHidden" "" ${HWND_MESSAGE}
    ${If} $0 <> 0
      System::Call "user32::GetWindowThreadProcessId(p r0, *i 0 r1) i"
      System::Call "user32::AllowSetForegroundWindow(i r1) i"
      System::Call "user32::RegisterWindowMessageW(w '${SHOW_STATUS_CARD}') i .r1"
      System::Call "user32::PostMessageW(p r0, i r1, p 0, p 0) i"
      ${ExitDo}
    ${EndIf}
    IntOp $2 $2 + 1
    ${If} $2 > 100
      ${ExitDo}
    ${EndIf}
    Sleep 100
  ${Loop}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Section
  Call close_running
  ${If} $was_running = 1
    StrCpy $start_after 1
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "/oname=${EXE_NAME}" "${BRIDGE_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\${EXE_NAME}" "" "$INSTDIR\${EXE_NAME}" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE_NAME},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "${MAIN_SITE_URL}"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  ; YYYYMMDD, local time, as Settings shows it.
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallDate" "$2$1$0"

  ; Shown, the finish page's check boxes start it and turn start at login on.
  ${If} ${Silent}
    ${If} $autostart = 1
      Call enable_start_at_login
    ${EndIf}
    ${If} $start_after = 1
      Exec '"$INSTDIR\${EXE_NAME}"'
    ${EndIf}
  ${EndIf}
SectionEnd

; The start-at-login value goes when it starts this copy (or is gone already, with the record
; Windows keeps of it being turned off); a value that starts another copy is that copy's.
Function un.remove_start_at_login
  ClearErrors
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} ${Errors}
    StrCpy $0 ""
  ${EndIf}
  ExpandEnvStrings $0 $0
  ${If} $0 == ""
  ${OrIf} $0 == '"$INSTDIR\${EXE_NAME}"'
  ${OrIf} $0 == "$INSTDIR\${EXE_NAME}"
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
    DeleteRegValue HKCU "${APPROVED_KEY}" "${RUN_VALUE}"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.close_running
  Delete "$INSTDIR\${EXE_NAME}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  Call un.remove_start_at_login
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DetailPrint "$(KEEPS_DATA)"
SectionEnd
