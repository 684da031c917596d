# The project's one version and the time a release is dated, worked out once
# at configure time and given to every file that shows them.
#
# VYK_VERSION (text):
#   - the cache variable VYK_VERSION when set (a build from a tarball);
#   - else, in a git checkout: "1.3" on a clean checkout of tag v1.3, else
#     "1.3+N.gHASH" (N commits after that tag, or since the first commit when
#     there is none; HASH the commit), with ".dirty" for uncommitted changes.
#     Debian's version rules accept this form and sort it by N;
#   - else the project() version.
# VYK_VERSION_RC: the four numbers of a Windows VERSIONINFO (major, minor,
#   patch, N).
# VYK_SOURCE_DATE_EPOCH: the time every packaged file and page is dated with:
#   the environment's SOURCE_DATE_EPOCH, else the commit's time, else the time
#   of the top CMakeLists.txt (as a source tarball keeps it).
#
# CMake runs again when HEAD, the index or a ref moves, so a commit or a
# checkout never leaves an old version in the files.

set(VYK_VERSION "" CACHE STRING "Version text to use instead of the one git describes")

set(_vyk_base ${PROJECT_VERSION})
set(_vyk_distance 0)
set(_vyk_version "")
set(_vyk_epoch "")

find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --absolute-git-dir --git-common-dir
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _vyk_dirs OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _vyk_rc ERROR_QUIET)
endif()
if(DEFINED _vyk_rc AND _vyk_rc EQUAL 0)
  string(REPLACE "\n" ";" _vyk_dirs "${_vyk_dirs}")
  list(GET _vyk_dirs 0 _vyk_git_dir)
  list(GET _vyk_dirs 1 _vyk_common_dir)
  get_filename_component(_vyk_common_dir ${_vyk_common_dir} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})

  execute_process(COMMAND ${GIT_EXECUTABLE} describe --tags --long --dirty --abbrev=12
                          --match v${PROJECT_VERSION}
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _vyk_describe OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _vyk_rc ERROR_QUIET)
  if(_vyk_rc EQUAL 0 AND _vyk_describe MATCHES "^v.*-([0-9]+)-g([0-9a-f]+)(-dirty)?$")
    set(_vyk_distance ${CMAKE_MATCH_1})
    set(_vyk_hash ${CMAKE_MATCH_2})
    set(_vyk_dirty ${CMAKE_MATCH_3})
  else()
    # No release tag yet: count from the first commit.
    execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty --abbrev=12
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE _vyk_describe OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE _vyk_distance OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    string(REGEX MATCH "^[0-9a-f]+" _vyk_hash "${_vyk_describe}")
    string(REGEX MATCH "-dirty$" _vyk_dirty "${_vyk_describe}")
  endif()
  if(_vyk_distance EQUAL 0 AND NOT _vyk_dirty)
    set(_vyk_version ${_vyk_base})
  else()
    set(_vyk_version "${_vyk_base}+${_vyk_distance}.g${_vyk_hash}")
    if(_vyk_dirty)
      string(APPEND _vyk_version ".dirty")
    endif()
  endif()

  execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _vyk_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)

  execute_process(COMMAND ${GIT_EXECUTABLE} symbolic-ref -q HEAD
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _vyk_ref OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(_vyk_watch ${_vyk_git_dir}/HEAD ${_vyk_git_dir}/index ${_vyk_common_dir}/packed-refs)
  if(_vyk_ref)
    list(APPEND _vyk_watch ${_vyk_common_dir}/${_vyk_ref})
  endif()
  foreach(_vyk_file ${_vyk_watch})
    if(EXISTS ${_vyk_file})
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vyk_file})
    endif()
  endforeach()
endif()

if(VYK_VERSION)
  set(_vyk_version ${VYK_VERSION})
elseif(NOT _vyk_version)
  set(_vyk_version ${_vyk_base})
endif()
if(NOT _vyk_version MATCHES "^[0-9][0-9A-Za-z.+~]*$")
  message(FATAL_ERROR "version \"${_vyk_version}\": use digits, letters and . + ~ only, starting with a digit")
endif()
set(VYK_VERSION ${_vyk_version})

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(_vyk_epoch $ENV{SOURCE_DATE_EPOCH})
elseif(NOT _vyk_epoch)
  file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt _vyk_epoch "%s" UTC)
endif()
set(VYK_SOURCE_DATE_EPOCH ${_vyk_epoch})

# The four VERSIONINFO numbers; each is 16 bits wide.
set(_vyk_patch 0)
if(PROJECT_VERSION_PATCH)
  set(_vyk_patch ${PROJECT_VERSION_PATCH})
endif()
if(_vyk_distance GREATER 65535)
  set(_vyk_distance 65535)
endif()
set(VYK_VERSION_RC "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${_vyk_patch},${_vyk_distance}")

message(STATUS "VYK_UU version ${VYK_VERSION} (${VYK_VERSION_RC}), dated ${VYK_SOURCE_DATE_EPOCH}")

# Code that shows the version links vyk_version: it defines
# VYK_PROJECT_VERSION for that target alone, so a new version rebuilds only
# the few files that show it.
add_library(vyk_version INTERFACE)
target_compile_definitions(vyk_version INTERFACE VYK_PROJECT_VERSION="${VYK_VERSION}")

# vyk_version_resource(<target> <description> <APP|DLL>): gives a Windows
# target a VERSIONINFO resource naming its file, the project and the version.
function(vyk_version_resource target description type)
  get_target_property(_name ${target} OUTPUT_NAME)
  if(NOT _name)
    set(_name ${target})
  endif()
  get_target_property(_kind ${target} TYPE)
  if(_kind STREQUAL "EXECUTABLE")
    set(_suffix ${CMAKE_EXECUTABLE_SUFFIX})
  else()
    set(_suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
  endif()
  vyk_version_rc_file(${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc
                      "${_name}${_suffix}" "${description}" ${type})
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
endfunction()

# vyk_version_rc_file(<out.rc> <file name> <description> <APP|DLL|DRV>):
# writes the resource script alone, for files not built as CMake targets.
function(vyk_version_rc_file out filename description type)
  set(VYK_RC_FILENAME ${filename})
  get_filename_component(VYK_RC_INTERNAL ${filename} NAME_WE)
  set(VYK_RC_DESCRIPTION ${description})
  set(VYK_RC_SUBTYPE VFT2_UNKNOWN)
  if(type STREQUAL "APP")
    set(VYK_RC_TYPE VFT_APP)
  elseif(type STREQUAL "DLL")
    set(VYK_RC_TYPE VFT_DLL)
  elseif(type STREQUAL "DRV")
    set(VYK_RC_TYPE VFT_DRV)
    set(VYK_RC_SUBTYPE VFT2_DRV_SYSTEM)
  else()
    message(FATAL_ERROR "vyk_version_rc_file: type ${type} is none of APP, DLL, DRV")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${out} @ONLY)
endfunction()
