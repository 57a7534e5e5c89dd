# The package as package.h describes it, for the build steps:
#   ZORVIK_PAYLOADS        resource id and file name of every entry, in order
#   ZORVIK_PROGRAM_FILE    the first entry's name: the program that is started
#   ZORVIK_SYSTEM_FILES    the names bound for the system folder
#   ZORVIK_REQUIRED_SPACE  the bytes the installation-folder files may expand to
file(READ ${CMAKE_CURRENT_LIST_DIR}/package.h _package_h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/package.h)
string(REGEX MATCHALL "ENTRY\\([0-9]+, *'[DS]', *\"[^\"]+\"" _entries "${_package_h}")
set(ZORVIK_PAYLOADS)
set(ZORVIK_SYSTEM_FILES)
foreach(_e IN LISTS _entries)
  string(REGEX MATCH "([0-9]+), *'([DS])', *\"([^\"]+)\"" _ "${_e}")
  list(APPEND ZORVIK_PAYLOADS ${CMAKE_MATCH_1} ${CMAKE_MATCH_3})
  if(CMAKE_MATCH_2 STREQUAL "S")
    list(APPEND ZORVIK_SYSTEM_FILES ${CMAKE_MATCH_3})
  endif()
endforeach()
list(GET ZORVIK_PAYLOADS 1 ZORVIK_PROGRAM_FILE)
string(REGEX MATCH "#define PACKAGE_ENTRY_COUNT ([0-9]+)" _ "${_package_h}")
list(LENGTH _entries _n)
if(NOT _n EQUAL CMAKE_MATCH_1)
  message(FATAL_ERROR "package.h: ${_n} entries read, PACKAGE_ENTRY_COUNT is ${CMAKE_MATCH_1}")
endif()
string(REGEX MATCH "#define PACKAGE_REQUIRED_SPACE ([0-9]+)" _ "${_package_h}")
set(ZORVIK_REQUIRED_SPACE ${CMAKE_MATCH_1})

# zorvik_payload_resources(<object library> <package folder> <output folder> [LIMIT <bytes>])
# Compresses the sixteen files of a package folder into SZDD payloads and makes
# the object library of the resource script that carries them, with the table
# of their checksums (PayloadChecksums) that the installer checks them against. With LIMIT the
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
  add_custom_command(OUTPUT ${out}/payload_checksums.cpp
    COMMAND ${PAYLOAD_CHECKSUMS_EXECUTABLE} ${out}/payload_checksums.cpp ${built}
    DEPENDS ${built} ${PAYLOAD_CHECKSUMS_EXECUTABLE} host_tools
    COMMENT "Recording the payloads' checksums" VERBATIM)
  if(P_LIMIT)
    string(REPLACE ";" "," table "${table}")
    add_custom_command(OUTPUT ${out}/package-table.txt
      COMMAND ${CMAKE_COMMAND} "-DENTRIES=${table}" "-DSYSTEM_FILES=${ZORVIK_SYSTEM_FILES}"
              -DPAYLOAD_DIR=${out} -DLIMIT=${P_LIMIT} -DVERSION=${ZORVIK_VERSION}
              -P ${CMAKE_SOURCE_DIR}/cmake/PackageTable.cmake
      DEPENDS ${built} ${CMAKE_SOURCE_DIR}/cmake/PackageTable.cmake
      COMMENT "Checking the package" VERBATIM)
    list(APPEND built ${out}/package-table.txt)
  endif()
  add_custom_target(${target}_files ALL DEPENDS ${built} ${out}/payload_checksums.cpp)
  add_library(${target} OBJECT ${out}/payloads.rc ${out}/payload_checksums.cpp)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/package)
  target_link_libraries(${target} PRIVATE zorvik_product)
  set_source_files_properties(${out}/payloads.rc PROPERTIES OBJECT_DEPENDS "${built}")
  add_dependencies(${target} ${target}_files)
endfunction()
