; The small Windows program a site installer puts on the machine: it shows
; its name and version and ends. Built with makensis /DNAME=... /DVERSION=...
; /DICON=... /DOUTFILE=...
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
Name "${NAME}"
Caption "${NAME}"
OutFile "${OUTFILE}"
Icon "${ICON}"
SilentInstall silent
RequestExecutionLevel user
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "FileDescription" "${NAME}"
VIAddVersionKey /LANG=1033 "ProductName" "${NAME}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

Section
  IfSilent done
  MessageBox MB_OK "${NAME} ${VERSION}"
  done:
SectionEnd
