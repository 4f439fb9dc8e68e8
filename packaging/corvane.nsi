; The installer of the release: corvane.exe, marlet.exe with its removal tool
; devcon.exe (and the command-line companion when the build has it), a readme,
; Start-menu shortcuts and an uninstaller registered under Add/Remove Programs;
; and, as a component the user may leave out (it is on by default), the virtual
; serial port driver with its installation file and the port data service
; vportd.exe (a service that starts with the system), so that marlet's Add
; works and its ports carry data.
; Made by the build's `installer` target, which passes RELEASE_DEFINES: a file
; of !defines with the version, the publisher and the paths of the built files.
;
; Silent use: setup.exe /S [/D=folder]; uninstall.exe /S.

Unicode true
!include "${RELEASE_DEFINES}"
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT_NAME}"
!define START_MENU "$SMPROGRAMS\${PRODUCT_NAME}"
; Installers before the data service was a service started it at each logon
; through this Run value.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define OLD_RUN_VALUE "Marlet port data service"
!define SERVICE_NAME "QnVportd"
!define SERVICE_DISPLAY_NAME "Virtual port data service"
; An own-process service of LocalSystem (sc's defaults) that starts with the system.
!define SERVICE_SETTINGS 'binPath= "\"$INSTDIR\vportd.exe\" --service" start= auto DisplayName= "${SERVICE_DISPLAY_NAME}"'

Name "${PRODUCT_NAME} ${PRODUCT_VERSION}"
OutFile "${OUT_FILE}"
; Program Files, the all-users Start menu and HKLM need an administrator.
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES\${PRODUCT_NAME}"
; Installing again goes to the folder of the installation it replaces.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT_NAME} ${PRODUCT_VERSION}"

VIProductVersion "${PRODUCT_VERSION_FULL}"
VIFileVersion "${PRODUCT_VERSION_FULL}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT_NAME} ${PRODUCT_VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"

!define MUI_ICON "${ICON_FILE}"
!define MUI_UNICON "${ICON_FILE}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\readme.txt"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Stops the data service when it runs and waits until it has, at most 20 s;
; nothing when it is not registered. Through the service manager's own calls:
; sc returns before the service has stopped, and its words are for people.
!define SC_MANAGER_CONNECT 0x0001
!define SERVICE_QUERY_STATUS 0x0004
!define SERVICE_STOP 0x0020
!define /math SERVICE_STOP_AND_QUERY ${SERVICE_STOP} | ${SERVICE_QUERY_STATUS}
!define SERVICE_CONTROL_STOP 1
!define SERVICE_STOPPED 1
!macro StopDataService
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i ${SC_MANAGER_CONNECT}) p.r0'
  System::Call 'advapi32::OpenServiceW(p r0, w "${SERVICE_NAME}", i ${SERVICE_STOP_AND_QUERY}) p.r1'
  ${If} $1 P<> 0
    ; SERVICE_STATUS: seven DWORDs, the state second.
    System::Call '*(i, i, i, i, i, i, i) p.r2'
    System::Call 'advapi32::ControlService(p r1, i ${SERVICE_CONTROL_STOP}, p r2) i'
    ${For} $3 1 80
      System::Call 'advapi32::QueryServiceStatus(p r1, p r2) i'
      System::Call '*$2(i, i .r4)'
      ${IfThen} $4 = ${SERVICE_STOPPED} ${|} ${Break} ${|}
      Sleep 250
    ${Next}
    System::Free $2
    System::Call 'advapi32::CloseServiceHandle(p r1)'
  ${EndIf}
  System::Call 'advapi32::CloseServiceHandle(p r0)'
!macroend

Function .onInit
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Programs" SecPrograms
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=corvane.exe" "${CORVANE_EXE}"
  File "/oname=marlet.exe" "${MARLET_EXE}"
  ; marlet's Remove starts the removal tool from its own folder first.
  File "/oname=devcon.exe" "${DEVCON_EXE}"
!ifdef CORVANECTL_EXE
  File "/oname=corvanectl.exe" "${CORVANECTL_EXE}"
!endif
  File "/oname=readme.txt" "${README_TXT}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; corvane writes its upgrade settings file in the folder it starts in, and
  ; it runs as the invoking user, who cannot write to Program Files: its
  ; shortcut starts it in the user's profile folder. marlet runs elevated and
  ; starts beside its files.
  CreateDirectory "${START_MENU}"
  StrCpy $OUTDIR "%USERPROFILE%"
  CreateShortcut "${START_MENU}\Corvane.lnk" "$INSTDIR\corvane.exe" "" "$INSTDIR\corvane.exe" 0
  StrCpy $OUTDIR "$INSTDIR"
  CreateShortcut "${START_MENU}\Marlet.lnk" "$INSTDIR\marlet.exe" "" "$INSTDIR\marlet.exe" 0
  CreateShortcut "${START_MENU}\Readme.lnk" "$INSTDIR\readme.txt"
  CreateShortcut "${START_MENU}\Uninstall ${PRODUCT_NAME}.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME} ${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\corvane.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; marlet adds a port with the installation file's bare name: the platform looks
; for it among the installation files it knows (the inf folder), and for the
; driver where the file's service points (drivers). Wine also reads a bare name
; from the Windows folder and checks it in the current folder, which is marlet's
; own (its shortcut starts it there).
Section "Virtual port driver" SecDriver
  SetOutPath "$SYSDIR\drivers"
  File "/oname=qnvport.sys" "${DRIVER_SYS}"
  SetOutPath "$WINDIR\inf"
  File "/oname=QN520xx.inf" "${DRIVER_INF}"
  SetOutPath "$WINDIR"
  File "/oname=QN520xx.inf" "${DRIVER_INF}"
  SetOutPath "$INSTDIR"
  File "/oname=QN520xx.inf" "${DRIVER_INF}"

  ; The data service carries the ports' bytes: a service that starts with the
  ; system, and now. One of an earlier installation stops for its file to be
  ; replaced; a copy that an older installer started at each logon stops for
  ; good, with its Run value.
  !insertmacro StopDataService
  ReadRegStr $0 HKLM "${RUN_KEY}" "${OLD_RUN_VALUE}"
  ${If} $0 != ""
    DeleteRegValue HKLM "${RUN_KEY}" "${OLD_RUN_VALUE}"
    nsExec::Exec 'taskkill /f /im vportd.exe'
    Pop $0
  ${EndIf}
  File "/oname=vportd.exe" "${VPORTD_EXE}"
  nsExec::Exec 'sc create ${SERVICE_NAME} ${SERVICE_SETTINGS}'
  Pop $0
  ${If} $0 != 0
    ; Registered by an earlier installation: its settings are brought up to date.
    nsExec::Exec 'sc config ${SERVICE_NAME} ${SERVICE_SETTINGS}'
    Pop $0
  ${EndIf}
  ${If} $0 != 0
    DetailPrint "Cannot register the service ${SERVICE_NAME}: sc ended with $0"
  ${EndIf}
  ; A data service that ends unasked starts again: after 5 s twice, then after
  ; a minute; a day without such an end starts the count afresh.
  nsExec::Exec 'sc failure ${SERVICE_NAME} reset= 86400 actions= restart/5000/restart/5000/restart/60000'
  Pop $0
  nsExec::Exec 'sc start ${SERVICE_NAME}'
  Pop $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "DriverInstalled" 1
SectionEnd

; Removes what the installer put in place, file by file: the folder itself goes
; only when nothing else is left in it (settings files a user saved there, or a
; folder chosen with /D= that held other files, stay).
Section "Uninstall"
  ; The data service (stopped first, then taken off the service list) with
  ; its log, and the driver's files, where this installer put them. Ports
  ; still present stay listed but cannot start until a driver is installed
  ; again; a driver file in use goes at the next start.
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "DriverInstalled"
  ${If} $0 == 1
    !insertmacro StopDataService
    nsExec::Exec 'sc delete ${SERVICE_NAME}'
    Pop $1
    DeleteRegValue HKLM "${RUN_KEY}" "${OLD_RUN_VALUE}"
    Delete /REBOOTOK "$INSTDIR\vportd.exe"
    Delete "$INSTDIR\vportd.log"
    Delete /REBOOTOK "$SYSDIR\drivers\qnvport.sys"
    Delete "$WINDIR\inf\QN520xx.inf"
    Delete "$WINDIR\QN520xx.inf"
  ${EndIf}

  Delete "${START_MENU}\Corvane.lnk"
  Delete "${START_MENU}\Marlet.lnk"
  Delete "${START_MENU}\Readme.lnk"
  Delete "${START_MENU}\Uninstall ${PRODUCT_NAME}.lnk"
  RMDir "${START_MENU}"

  Delete "$INSTDIR\corvane.exe"
  Delete "$INSTDIR\marlet.exe"
  Delete "$INSTDIR\devcon.exe"
  Delete "$INSTDIR\corvanectl.exe"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\QN520xx.inf"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
