# Headers and libraries from Debian's packages, for both the native and the
# mingw-w64 build. The cross build cannot search /usr/include as a whole (it
# would pick up glibc's headers), so each header set is exposed on its own.

set(ZELVAN_OPENVR_INCLUDE_DIR /usr/include/openvr CACHE PATH "Folder holding openvr_driver.h")
set(ZELVAN_HIDAPI_INCLUDE_DIR /usr/include/hidapi CACHE PATH "Folder holding hidapi.h")
set(ZELVAN_NLOHMANN_DIR /usr/include/nlohmann CACHE PATH "Folder holding nlohmann/json.hpp")

foreach(header IN ITEMS "${ZELVAN_OPENVR_INCLUDE_DIR}/openvr_driver.h" "${ZELVAN_HIDAPI_INCLUDE_DIR}/hidapi.h")
  if(NOT EXISTS "${header}")
    message(FATAL_ERROR "${header} is missing: run scripts/bootstrap.sh")
  endif()
endforeach()

add_library(zelvan_openvr INTERFACE)
target_include_directories(zelvan_openvr SYSTEM INTERFACE "${ZELVAN_OPENVR_INCLUDE_DIR}")
add_library(zelvan::openvr ALIAS zelvan_openvr)

add_library(zelvan_hidapi_headers INTERFACE)
target_include_directories(zelvan_hidapi_headers SYSTEM INTERFACE "${ZELVAN_HIDAPI_INCLUDE_DIR}")
add_library(zelvan::hidapi_headers ALIAS zelvan_hidapi_headers)

# nlohmann-json is for tools and tests only, never for the driver.
set(_json_root "${CMAKE_BINARY_DIR}/third_party/include")
if(NOT EXISTS "${_json_root}/nlohmann")
  file(MAKE_DIRECTORY "${_json_root}")
  file(CREATE_LINK "${ZELVAN_NLOHMANN_DIR}" "${_json_root}/nlohmann" SYMBOLIC)
endif()
add_library(zelvan_json INTERFACE)
target_include_directories(zelvan_json SYSTEM INTERFACE "${_json_root}")
add_library(zelvan::json ALIAS zelvan_json)

if(WIN32)
  # The DLL imports hidapi from hidapi.dll, as installed beside it; the import
  # library is made here from the list of functions the driver calls.
  find_program(ZELVAN_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
  set(_hidapi_implib "${CMAKE_BINARY_DIR}/third_party/libhidapi.dll.a")
  add_custom_command(
    OUTPUT "${_hidapi_implib}"
    COMMAND "${ZELVAN_DLLTOOL}" --dllname hidapi.dll
            --input-def "${CMAKE_SOURCE_DIR}/sensor/hidapi.def"
            --output-lib "${_hidapi_implib}"
    DEPENDS "${CMAKE_SOURCE_DIR}/sensor/hidapi.def"
    COMMENT "Making the hidapi.dll import library")
  add_custom_target(zelvan_hidapi_implib DEPENDS "${_hidapi_implib}")
  add_library(zelvan_hidapi INTERFACE)
  add_dependencies(zelvan_hidapi zelvan_hidapi_implib)
  target_link_libraries(zelvan_hidapi INTERFACE "${_hidapi_implib}" zelvan::hidapi_headers)
  include("${CMAKE_CURRENT_LIST_DIR}/HidapiWindows.cmake")
else()
  find_library(ZELVAN_HIDAPI_LIBRARY NAMES hidapi-hidraw REQUIRED)
  add_library(zelvan_hidapi INTERFACE)
  target_link_libraries(zelvan_hidapi INTERFACE "${ZELVAN_HIDAPI_LIBRARY}" zelvan::hidapi_headers)
endif()
add_library(zelvan::hidapi ALIAS zelvan_hidapi)

# cpp-httplib for zelvan-ctl's panel: the single header of Debian's source
# package, compiled in without TLS, so that the zelvan-ctl in the driver
# folder needs neither OpenSSL nor brotli nor libcpp-httplib.so.
file(GLOB _httplib_headers /usr/local/src/cpp-httplib/cpp-httplib-*/httplib.h)
list(SORT _httplib_headers)
list(REVERSE _httplib_headers)
list(GET _httplib_headers 0 _httplib_header)
if(NOT _httplib_header)
  set(_httplib_header "")
endif()
get_filename_component(_httplib_dir "${_httplib_header}" DIRECTORY)
set(ZELVAN_HTTPLIB_DIR "${_httplib_dir}" CACHE PATH "Folder holding cpp-httplib's httplib.h (its source package)")
if(NOT EXISTS "${ZELVAN_HTTPLIB_DIR}/httplib.h")
  message(FATAL_ERROR "cpp-httplib's httplib.h is missing (looked in /usr/local/src/cpp-httplib/cpp-httplib-*/): "
    "run scripts/bootstrap.sh, which unpacks Debian's source package (apt-get source cpp-httplib) there")
endif()
add_library(zelvan_httplib INTERFACE)
target_include_directories(zelvan_httplib SYSTEM INTERFACE "${ZELVAN_HTTPLIB_DIR}")
if(WIN32)
  target_link_libraries(zelvan_httplib INTERFACE ws2_32)
endif()
add_library(zelvan::httplib ALIAS zelvan_httplib)
