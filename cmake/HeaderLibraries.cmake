# The two header-only libraries of the host's /usr/include that the product
# compiles in, as interface targets: vyk_json (nlohmann/json: the records
# the core and vykuu write and read) and vyk_cli11 (CLI11: vykuu's command
# line). Their headers are copied into the build tree so the Windows cross
# build sees them without the host's whole /usr/include; the notices and the
# package checks find them through VYK_<NAME>_INCLUDE.
function(vyk_header_library target name probe folder package)
  find_path(VYK_${name}_INCLUDE ${probe} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  if(NOT VYK_${name}_INCLUDE)
    message(STATUS "${folder}: not found (apt install ${package})")
    return()
  endif()
  set(copy ${PROJECT_BINARY_DIR}/third_party/${name})
  file(COPY ${VYK_${name}_INCLUDE}/${folder} DESTINATION ${copy})
  add_library(${target} INTERFACE)
  target_include_directories(${target} INTERFACE ${copy})
endfunction()

vyk_header_library(vyk_json JSON nlohmann/json.hpp nlohmann nlohmann-json3-dev)
vyk_header_library(vyk_cli11 CLI11 CLI/CLI.hpp CLI libcli11-dev)
if(NOT TARGET vyk_json)
  message(FATAL_ERROR "nlohmann/json is needed by the core's records: apt install nlohmann-json3-dev "
                      "(scripts/setup.sh installs everything)")
endif()
