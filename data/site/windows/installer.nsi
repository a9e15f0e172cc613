; A site installer for Windows: silent, 64-bit; it installs the program
; built from program.nsi with its icon, registers the uninstall entry under
; the machine root and writes its own uninstaller. Built with makensis and
; /DNAME /DVERSION /DPUBLISHER /DKEY /DPROGRAM (the built program)
; /DICON /DSIZE (KiB) /DOUTFILE.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
Name "${NAME}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
SilentInstall silent
SilentUnInstall silent
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES64\${KEY}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "FileDescription" "${NAME} Setup"
VIAddVersionKey /LANG=1033 "ProductName" "${NAME}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${KEY}"

Section
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "/oname=${KEY}.exe" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\uninst.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninst.exe" /S'
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${KEY}.exe,0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" ${SIZE}
SectionEnd

Section "Uninstall"
  SetRegView 64
  Delete "$INSTDIR\${KEY}.exe"
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
