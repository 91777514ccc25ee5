; A vendor's installer as the end-to-end run serves it: silent, for the current user, it puts the
; new vanto.exe into the program folder and records the new version where the client reads it.
;   makensis -DOUTFILE=setup.exe -DPAYLOAD=vanto.exe -DVERSION=2.0 vendor_setup.nsi
Unicode true
SilentInstall silent
RequestExecutionLevel user
Name "vanto"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\vanto"

Section
  SetOutPath "$INSTDIR"
  File "/oname=vanto.exe" "${PAYLOAD}"
  WriteRegStr HKCU "Software\vanto" "Ver" "${VERSION}"
SectionEnd
