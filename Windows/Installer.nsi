; The installer of the Windows program, built by the CMake target midi-updater-win-setup:
;   makensis -DVERSION=1.05 -DPUBLISHER=... -DPROGRAM=path\midi-updater-win.exe
;            -DHEADER=path\Header.png -DICON=path\MidiUpdater.ico -DOUTFILE=... Installer.nsi
; A 64-bit installer for all users: the program goes under Program Files, the Start menu
; entry, the uninstall entry and the file types under HKLM. /S installs and uninstalls
; silently.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
; Per machine: the manifest asks for an administrator; the program itself stays asInvoker.
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "MIDI Updater"
!define EXE "midi-updater-win.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VornMidiUpdater"
; The program's own type for .upd files, and the one through which it offers to open .syx.
!define UPD_PROGID "VornInstruments.MidiUpdater.upd"
!define SYX_PROGID "VornInstruments.MidiUpdater.syx"
!define CLASSES "Software\Classes"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
BrandingText "${PUBLISHER}"
VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
; No "Run" box on the last page: started from here the program would inherit the
; installer's administrator rights, and Explorer could then not drop files on it.
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; SHCNE_ASSOCCHANGED: Explorer rereads the file types.
!macro AssociationsChanged
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

!macro RequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "Installing ${PRODUCT} for all users needs administrator rights." /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
!macroend

Function .onInit
  SetRegView 64
  SetShellVarContext all
  !insertmacro RequireAdmin
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=${EXE}" "${PROGRAM}"
  File "/oname=Header.png" "${HEADER}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  ; .upd files are ours: double-clicking one starts the program with its path.
  WriteRegStr HKLM "${CLASSES}\${UPD_PROGID}" "" "${PRODUCT} update file"
  WriteRegStr HKLM "${CLASSES}\${UPD_PROGID}\DefaultIcon" "" '"$INSTDIR\${EXE}",0'
  WriteRegStr HKLM "${CLASSES}\${UPD_PROGID}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
  WriteRegStr HKLM "${CLASSES}\.upd" "" "${UPD_PROGID}"
  WriteRegStr HKLM "${CLASSES}\.upd\OpenWithProgids" "${UPD_PROGID}" ""
  ; .syx may belong to another SysEx tool: the program is only offered under "Open with".
  WriteRegStr HKLM "${CLASSES}\${SYX_PROGID}" "" "SysEx file"
  WriteRegStr HKLM "${CLASSES}\${SYX_PROGID}\DefaultIcon" "" '"$INSTDIR\${EXE}",0'
  WriteRegStr HKLM "${CLASSES}\${SYX_PROGID}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
  WriteRegStr HKLM "${CLASSES}\.syx\OpenWithProgids" "${SYX_PROGID}" ""

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${EXE}",0'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  !insertmacro AssociationsChanged
SectionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
  !insertmacro RequireAdmin
FunctionEnd

; Deletes key $0 when nothing is left in it: no value, no subkey.
Function un.DeleteKeyIfEmpty
  DeleteRegKey /ifempty /ifnovalues HKLM "$0"
FunctionEnd

Section "Uninstall"
  ; A running program cannot be deleted: it is asked to be closed before anything goes,
  ; or the uninstall ends with everything still in place.
  retry:
  ClearErrors
  Delete "$INSTDIR\${EXE}"
  ${If} ${Errors}
  ${AndIf} ${FileExists} "$INSTDIR\${EXE}"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} is running. Close it, then click Retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Abort
  ${EndIf}
  Delete "$INSTDIR\Header.png"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR" ; only when empty: a file the user put there stays
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  ; .upd stays with whichever program took it since.
  ReadRegStr $0 HKLM "${CLASSES}\.upd" ""
  ${If} $0 == "${UPD_PROGID}"
    DeleteRegValue HKLM "${CLASSES}\.upd" ""
  ${EndIf}
  DeleteRegValue HKLM "${CLASSES}\.upd\OpenWithProgids" "${UPD_PROGID}"
  StrCpy $0 "${CLASSES}\.upd\OpenWithProgids"
  Call un.DeleteKeyIfEmpty
  StrCpy $0 "${CLASSES}\.upd"
  Call un.DeleteKeyIfEmpty
  DeleteRegValue HKLM "${CLASSES}\.syx\OpenWithProgids" "${SYX_PROGID}"
  StrCpy $0 "${CLASSES}\.syx\OpenWithProgids"
  Call un.DeleteKeyIfEmpty
  StrCpy $0 "${CLASSES}\.syx"
  Call un.DeleteKeyIfEmpty
  DeleteRegKey HKLM "${CLASSES}\${UPD_PROGID}"
  DeleteRegKey HKLM "${CLASSES}\${SYX_PROGID}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  !insertmacro AssociationsChanged
SectionEnd
