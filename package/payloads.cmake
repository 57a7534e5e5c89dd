# The payload list shared by the build steps: resource id and file name, in
# manifest order. The manifest itself lives in manifest.cpp; a test checks
# that each resource expands to the file the manifest names.
set(ZORVIK_PAYLOADS
  9003 Zorvik.exe   9004 Zorvik.htm   9005 Notes.txt    9006 Banner.gif
  9007 Backdrop.gif 9008 PageA.gif    9009 PageB.gif    9010 PageC.gif
  9011 PageD.gif    9012 PageE.gif    9013 PageF.gif    9014 Extra.gif
  9015 History.txt  9016 Intro.txt    9002 Msvcrt.dll   9001 Mfc42.dll)
# Entries bound for the system folder (the rest go to the installation folder).
set(ZORVIK_SYSTEM_FILES Msvcrt.dll Mfc42.dll)
