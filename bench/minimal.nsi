; The smallest useful NSIS installer: one small file, default settings.
;   makensis -DFILE=<file> -DOUT=<exe> minimal.nsi
OutFile "${OUT}"
InstallDir "$PROGRAMFILES\Minimal"
Section
  SetOutPath "$INSTDIR"
  File "${FILE}"
SectionEnd
