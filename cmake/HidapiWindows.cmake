# hidapi.dll for the Windows driver folder, built from hidapi's own Windows
# backend (Debian's source package, unpacked by scripts/bootstrap.sh), so the
# installed folder is complete without users fetching a DLL themselves.

file(GLOB _hidapi_sources LIST_DIRECTORIES true "/usr/local/src/hidapi/hidapi-*")
list(SORT _hidapi_sources COMPARE NATURAL ORDER DESCENDING)
set(_hidapi_default "")
foreach(dir IN LISTS _hidapi_sources)
  if(EXISTS "${dir}/windows/hid.c")
    set(_hidapi_default "${dir}")
    break()
  endif()
endforeach()
set(ZELVAN_HIDAPI_SOURCE_DIR "${_hidapi_default}" CACHE PATH "hidapi's unpacked source package (holds windows/hid.c)")

if(NOT EXISTS "${ZELVAN_HIDAPI_SOURCE_DIR}/windows/hid.c" OR NOT EXISTS "${ZELVAN_HIDAPI_SOURCE_DIR}/hidapi/hidapi.h")
  message(FATAL_ERROR
    "hidapi's source is missing (ZELVAN_HIDAPI_SOURCE_DIR='${ZELVAN_HIDAPI_SOURCE_DIR}'): "
    "run scripts/bootstrap.sh, which unpacks it into /usr/local/src/hidapi")
endif()

enable_language(RC)
add_library(zelvan_hidapi_dll SHARED
  "${ZELVAN_HIDAPI_SOURCE_DIR}/windows/hid.c"
  "${ZELVAN_HIDAPI_SOURCE_DIR}/windows/hidapi.rc")
target_include_directories(zelvan_hidapi_dll PRIVATE
  "${ZELVAN_HIDAPI_SOURCE_DIR}/hidapi"
  "${ZELVAN_HIDAPI_SOURCE_DIR}/windows")
# Its own folder: the simulated sensor's hidapi.dll owns bin/.
set_target_properties(zelvan_hidapi_dll PROPERTIES
  OUTPUT_NAME hidapi
  PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/hidapi"
  ARCHIVE_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/hidapi")
# -static (from the toolchain) leaves only system DLLs among its imports.
target_link_options(zelvan_hidapi_dll PRIVATE -Wl,--no-undefined)
