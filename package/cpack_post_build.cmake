# Runs inside CPack after each package is made, before CPack copies it into
# the package folder: SHA256SUMS there lists every package of this version
# (this one from where CPack made it), for `sha256sum -c SHA256SUMS`.
file(GLOB _present LIST_DIRECTORIES false
  "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-*")
set(_names)
foreach(_file IN LISTS _present CPACK_PACKAGE_FILES)
  get_filename_component(_name "${_file}" NAME)
  # The package being made replaces a copy from an earlier run.
  set(_path_${_name} "${_file}")
  list(APPEND _names "${_name}")
endforeach()
list(REMOVE_DUPLICATES _names)
list(SORT _names)
set(_sums "")
foreach(_name IN LISTS _names)
  file(SHA256 "${_path_${_name}}" _hash)
  string(APPEND _sums "${_hash}  ${_name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${_sums}")
