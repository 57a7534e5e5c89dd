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

# zorvik_payload_resources(<object library> <package folder> <output folder> [LIMIT <bytes>])
# Compresses the sixteen files of a package folder into SZDD payloads and makes
# the object library of the resource script that carries them. With LIMIT the
# package table is printed, and the build stops when the installation-folder
# files expand to more than LIMIT bytes.
function(zorvik_payload_resources target folder out)
  cmake_parse_arguments(P "" "LIMIT" "" ${ARGN})
  file(MAKE_DIRECTORY ${out})
  set(rc "#pragma code_page(65001)\n// Generated: the sixteen payloads, each a whole SZDD file.\nLANGUAGE 0x11, 0x01\n")
  set(built)
  set(table)
  list(LENGTH ZORVIK_PAYLOADS n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET ZORVIK_PAYLOADS ${i} id)
    list(GET ZORVIK_PAYLOADS ${j} name)
    add_custom_command(OUTPUT ${out}/${name}.sz
      COMMAND ${SZDD_EXECUTABLE} compress ${folder}/${name} ${out}/${name}.sz
      DEPENDS ${folder}/${name} ${SZDD_EXECUTABLE} host_tools
      COMMENT "Compressing ${name}" VERBATIM)
    list(APPEND built ${out}/${name}.sz)
    list(APPEND table "${id}|${name}|${folder}/${name}")
    string(APPEND rc "${id} RCDATA \"${out}/${name}.sz\"\n")
  endforeach()
  file(CONFIGURE OUTPUT ${out}/payloads.rc CONTENT "${rc}")
  if(P_LIMIT)
    string(REPLACE ";" "," table "${table}")
    add_custom_command(OUTPUT ${out}/package-table.txt
      COMMAND ${CMAKE_COMMAND} "-DENTRIES=${table}" "-DSYSTEM_FILES=${ZORVIK_SYSTEM_FILES}"
              -DPAYLOAD_DIR=${out} -DLIMIT=${P_LIMIT}
              -P ${CMAKE_SOURCE_DIR}/cmake/PackageTable.cmake
      DEPENDS ${built} ${CMAKE_SOURCE_DIR}/cmake/PackageTable.cmake
      COMMENT "Checking the package" VERBATIM)
    list(APPEND built ${out}/package-table.txt)
  endif()
  add_custom_target(${target}_files ALL DEPENDS ${built})
  add_library(${target} OBJECT ${out}/payloads.rc)
  set_source_files_properties(${out}/payloads.rc PROPERTIES OBJECT_DEPENDS "${built}")
  add_dependencies(${target} ${target}_files)
endfunction()
