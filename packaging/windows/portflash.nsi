; The Windows installer: portflash-cli.exe and its loaders in
; Program Files\Tarvex Corporation\Portflash, the machine-wide profile entries
; ("Install Version", "LDR Filename"), and an uninstaller that takes it all away.
; Built by scripts/build-windows, which defines VERSION, PROGRAM, OUTFILE and
; LOADERS and UNLOADERS (include files: per loader, its File and "LDR Filename"
; lines, and the Delete lines that take them away again).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define COMPANY "Tarvex Corporation"
!define APPNAME "Portflash"
!define PROFILE "Software\${COMPANY}\${APPNAME}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APPNAME}"

Name "${APPNAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${COMPANY}\${APPNAME}"
RequestExecutionLevel admin
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Portflash"
  SetOutPath "$INSTDIR"
  File "/oname=portflash-cli.exe" "${PROGRAM}"
  !include "${LOADERS}"
  WriteRegStr HKLM "${PROFILE}\Install Version" "Version" "${VERSION}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APPNAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Only what the installer put there: a user's own files in the folder stay.
  Delete "$INSTDIR\portflash-cli.exe"
  !include "${UNLOADERS}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."
  DeleteRegKey HKLM "${PROFILE}"
  DeleteRegKey /ifempty HKLM "Software\${COMPANY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
