# Runs inside CPack, for each package, on the staged driver folder before it
# is packed: moves each binary's debug information into BINARY.debug, strips
# the binary and links it to that file (GNU debuglink: gdb looks for it beside
# the binary), and packs the .debug files as the platform's debug archive. For
# the setup program it also lists the staged files for the uninstaller
# (installed-files.txt, installed with them).
set(_stage "${CPACK_TEMPORARY_DIRECTORY}/zelvanproximity")
if(NOT IS_DIRECTORY "${_stage}")
  message(FATAL_ERROR "no staged driver folder at ${_stage}")
endif()

# The split is kept beside the generators' folders and reused while the
# built binary is the same: objcopy stamps Windows binaries with the time, so
# a second split (the zip's, then the setup program's) would give .debug
# files that no longer match the first package's debuglinks.
get_filename_component(_split_root "${CPACK_TOPLEVEL_DIRECTORY}" DIRECTORY)
set(_split_root "${_split_root}/split-debug")
set(_debug_root "${_split_root}/debug")
file(GLOB_RECURSE _files LIST_DIRECTORIES false RELATIVE "${_stage}" "${_stage}/*")
list(SORT _files)
set(_debug_files)
foreach(_file IN LISTS _files)
  # Only what carries debug information: the bundled system hidapi comes
  # stripped, with its own distribution's debug package.
  execute_process(COMMAND "${CPACK_ZELVAN_OBJDUMP}" -h "${_stage}/${_file}"
    OUTPUT_VARIABLE _sections ERROR_QUIET RESULT_VARIABLE _not_binary)
  if(_not_binary OR NOT _sections MATCHES "[ \t]\\.debug_info[ \t]")
    continue()
  endif()
  set(_debug "${_debug_root}/zelvanproximity/${_file}.debug")
  set(_stripped "${_split_root}/stripped/${_file}")
  file(SHA256 "${_stage}/${_file}" _hash)
  set(_known "")
  if(EXISTS "${_stripped}.sha256" AND EXISTS "${_debug}")
    file(READ "${_stripped}.sha256" _known)
  endif()
  if(NOT _known STREQUAL _hash)
    get_filename_component(_dir "${_debug}" DIRECTORY)
    file(MAKE_DIRECTORY "${_dir}")
    get_filename_component(_dir "${_stripped}" DIRECTORY)
    file(MAKE_DIRECTORY "${_dir}")
    execute_process(
      COMMAND "${CPACK_ZELVAN_OBJCOPY}" --only-keep-debug "${_stage}/${_file}" "${_debug}"
      COMMAND_ERROR_IS_FATAL ANY)
    # --add-gnu-debuglink records the debug file's name and checksum.
    execute_process(
      COMMAND "${CPACK_ZELVAN_OBJCOPY}" --strip-debug --strip-unneeded
              "--add-gnu-debuglink=${_debug}" "${_stage}/${_file}" "${_stripped}"
      COMMAND_ERROR_IS_FATAL ANY)
    file(WRITE "${_stripped}.sha256" "${_hash}")
  endif()
  file(COPY_FILE "${_stripped}" "${_stage}/${_file}")
  list(APPEND _debug_files "zelvanproximity/${_file}.debug")
endforeach()

if(_debug_files)
  set(_name "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME}-debug")
  file(MAKE_DIRECTORY "${CPACK_PACKAGE_DIRECTORY}")
  if(CPACK_SYSTEM_NAME STREQUAL "win64")
    set(_archive "${CPACK_PACKAGE_DIRECTORY}/${_name}.zip")
    set(_format --format=zip)
    set(_mode cf)
  else()
    set(_archive "${CPACK_PACKAGE_DIRECTORY}/${_name}.tar.gz")
    set(_format --format=gnutar)
    set(_mode czf)
  endif()
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -E tar ${_mode} "${_archive}" ${_format} -- ${_debug_files}
    WORKING_DIRECTORY "${_debug_root}"
    COMMAND_ERROR_IS_FATAL ANY)
endif()

if(CPACK_GENERATOR STREQUAL "NSIS")
  # The setup program is the installer: install.cmd stays in the zip.
  file(REMOVE "${_stage}/install.cmd")
  # The list of what the setup installs, installed with it: the
  # uninstaller, and the next version's setup on an upgrade, delete what it
  # names and nothing else, so files an older version shipped go too. Each
  # file, then each folder deepest first (RMDir leaves one the user put
  # files in); and the size for the Add/Remove Programs entry.
  file(GLOB_RECURSE _installed LIST_DIRECTORIES true RELATIVE "${_stage}" "${_stage}/*")
  list(SORT _installed)
  set(_lines "# What the setup program installed here; uninstall.exe deletes these and nothing else.\r\n")
  set(_dirs)
  set(_bytes 0)
  foreach(_path IN LISTS _installed)
    string(REPLACE "/" "\\" _win "${_path}")
    if(IS_DIRECTORY "${_stage}/${_path}")
      list(APPEND _dirs "${_win}")
    else()
      string(APPEND _lines "F ${_win}\r\n")
      file(SIZE "${_stage}/${_path}" _size)
      math(EXPR _bytes "${_bytes} + ${_size}")
    endif()
  endforeach()
  list(SORT _dirs)
  list(REVERSE _dirs)
  foreach(_dir IN LISTS _dirs)
    string(APPEND _lines "D ${_dir}\r\n")
  endforeach()
  file(WRITE "${_stage}/installed-files.txt" "${_lines}")
  math(EXPR _kb "(${_bytes} + 1023) / 1024")
  file(WRITE "${CPACK_TOPLEVEL_DIRECTORY}/setup-files.nsh" "!define ZELVAN_INSTALLED_KB ${_kb}\n")
endif()
