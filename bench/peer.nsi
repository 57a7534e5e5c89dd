; The peer installer: the package the build describes, to the same places as
; ZorvikSetup.exe, the same two shortcuts, then the program is started.
;   makensis -DPKG=<staged package folder> -DFILES=<file list> -DOUT=<exe> -DCOMPRESSOR=zlib|lzma peer.nsi
; The file list defines PROGRAM (the program to start) and holds one
; "!insertmacro FolderFile NAME" or "!insertmacro SystemFile NAME" per package
; file, in the manifest's order; the bench writes it from the build's package table.
; Run as it is: the directory page, then the installation page, which closes
; itself when done. Run with /S: a silent installation.
SetCompressor /SOLID ${COMPRESSOR}
Name "Zorvik"
Caption "Zorvik Setup"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES\Zorvik"
RequestExecutionLevel admin
ShowInstDetails nevershow
AutoCloseWindow true

Page directory
Page instfiles

!macro FolderFile NAME
  File "${PKG}/${NAME}"
!macroend

; A runtime library goes to the system folder unless a file of that name is
; already there; then a private copy goes beside the program.
!macro SystemFile NAME
  IfFileExists "$SYSDIR\${NAME}" 0 sys_${NAME}
    File "${PKG}/${NAME}"
    Goto done_${NAME}
  sys_${NAME}:
  SetOutPath "$SYSDIR"
  File "${PKG}/${NAME}"
  SetOutPath "$INSTDIR"
  done_${NAME}:
!macroend

Section
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  CreateDirectory "$SMPROGRAMS\Zorvik"
  CreateShortcut "$SMPROGRAMS\Zorvik\Zorvik.lnk" "$INSTDIR\${PROGRAM}" "" "" 0 SW_SHOWNORMAL "" "Zorvik"
  CreateShortcut "$DESKTOP\Zorvik.lnk" "$INSTDIR\${PROGRAM}" "" "" 0 SW_SHOWNORMAL "" "Zorvik"
  Exec '"$INSTDIR\${PROGRAM}"'
SectionEnd
