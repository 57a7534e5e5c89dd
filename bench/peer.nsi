; The peer installer: the same sixteen files to the same places as
; ZorvikSetup.exe, the same two shortcuts, then the program is started.
;   makensis -DPKG=<folder with the sixteen files> -DOUT=<exe> -DCOMPRESSOR=zlib|lzma peer.nsi
; Run with /S for a silent installation.
SetCompressor /SOLID ${COMPRESSOR}
Name "Zorvik"
Caption "Zorvik Setup"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES\Zorvik"
RequestExecutionLevel admin
ShowInstDetails nevershow

Page directory
Page instfiles

; A runtime library goes to the system folder unless a file of that name is
; already there; then a private copy goes beside the program.
!macro RuntimeLibrary NAME
  IfFileExists "$SYSDIR\${NAME}" 0 sys_${NAME}
    SetOutPath "$INSTDIR"
    File "${PKG}/${NAME}"
    Goto done_${NAME}
  sys_${NAME}:
  SetOutPath "$SYSDIR"
  File "${PKG}/${NAME}"
  done_${NAME}:
!macroend

Section
  SetOutPath "$INSTDIR"
  File "${PKG}/Zorvik.exe"
  File "${PKG}/Zorvik.htm"
  File "${PKG}/Notes.txt"
  File "${PKG}/Banner.gif"
  File "${PKG}/Backdrop.gif"
  File "${PKG}/PageA.gif"
  File "${PKG}/PageB.gif"
  File "${PKG}/PageC.gif"
  File "${PKG}/PageD.gif"
  File "${PKG}/PageE.gif"
  File "${PKG}/PageF.gif"
  File "${PKG}/Extra.gif"
  File "${PKG}/History.txt"
  File "${PKG}/Intro.txt"
  !insertmacro RuntimeLibrary "Msvcrt.dll"
  !insertmacro RuntimeLibrary "Mfc42.dll"
  CreateDirectory "$SMPROGRAMS\Zorvik"
  CreateShortcut "$SMPROGRAMS\Zorvik\Zorvik.lnk" "$INSTDIR\Zorvik.exe" "" "" 0 SW_SHOWNORMAL "" "Zorvik"
  CreateShortcut "$DESKTOP\Zorvik.lnk" "$INSTDIR\Zorvik.exe" "" "" 0 SW_SHOWNORMAL "" "Zorvik"
  Exec '"$INSTDIR\Zorvik.exe"'
SectionEnd
