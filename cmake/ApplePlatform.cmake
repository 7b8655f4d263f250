# Apple: the architecture and the oldest macOS version are set in the
# top-level CMakeLists.txt, before project().
#
# The real dyld provides _NSGetExecutablePath, so nothing of the Linux host
# layer is compiled here. main and the flat hand-over functions that the
# runtime looks up with dlsym, and the exported data of the launcher, are
# exported as on Linux (below).

# The error alert's library: CoreFoundation, opened by its path when a start
# fails, never linked. The launcher links no framework at all, so that a
# start that succeeds loads none.
target_sources(applauncher_core PRIVATE
  ${PROJECT_SOURCE_DIR}/macosx/native/common/MacErrorAlertFramework.cpp)
# The system log: the unified log, through os_log.
target_sources(applauncher_core PRIVATE
  ${PROJECT_SOURCE_DIR}/macosx/native/common/MacSystemLog.cpp)

# A compiler given a target triple (the zig cross build) takes the minimum
# macOS version from the triple and not from -mmacosx-version-min, so the
# triple must name the same version.
foreach(lang C CXX)
  if(CMAKE_${lang}_COMPILER_TARGET MATCHES "macos[.]?([0-9][0-9.]*)" AND
     NOT CMAKE_MATCH_1 VERSION_EQUAL CMAKE_OSX_DEPLOYMENT_TARGET)
    message(FATAL_ERROR
      "The ${lang} compiler target ${CMAKE_${lang}_COMPILER_TARGET} is not "
      "for macOS ${CMAKE_OSX_DEPLOYMENT_TARGET}")
  endif()
endforeach()

# Exports: what the Linux host exports by its list, and nothing else, where
# the linker takes a list (Apple's and ld64.lld, which the zig cross build
# links with, do: -exported_symbols_list). The list
# is written in Mach-O names: "_" before C names, and the C++ names of the
# list (namespaces only) mangled, "SysInfo::argc" as "__ZN7SysInfo4argcE".
# __mh_execute_header marks the executable's own image for the loader.
set(QUERN_EXPORTS_LIST ${PROJECT_SOURCE_DIR}/linux/native/exports.list)
set(QUERN_MACHO_EXPORTS ${PROJECT_BINARY_DIR}/exports.macho)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${QUERN_EXPORTS_LIST})
file(STRINGS ${QUERN_EXPORTS_LIST} lines)
set(names "__mh_execute_header")
foreach(line IN LISTS lines)
  if(line MATCHES "^ *([A-Za-z_][A-Za-z0-9_]*);$")
    list(APPEND names "_${CMAKE_MATCH_1}")
  elseif(line MATCHES "^ *\"([A-Za-z_:]+)\";$")
    string(REPLACE "::" ";" parts "${CMAKE_MATCH_1}")
    set(mangled "__ZN")
    foreach(part IN LISTS parts)
      string(LENGTH "${part}" length)
      string(APPEND mangled "${length}${part}")
    endforeach()
    list(APPEND names "${mangled}E")
  endif()
endforeach()
list(JOIN names "\n" text)
file(WRITE ${QUERN_MACHO_EXPORTS} "${text}\n")
file(WRITE ${PROJECT_BINARY_DIR}/exports-probe.macho "_main\n")
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_LINK_OPTIONS
  "-Wl,-exported_symbols_list,${PROJECT_BINARY_DIR}/exports-probe.macho")
check_cxx_source_compiles("int main() { return 0; }"
  QUERN_LINKER_EXPORTS_LIST)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
if(QUERN_LINKER_EXPORTS_LIST)
  target_link_options(applauncher PRIVATE
    "-Wl,-exported_symbols_list,${QUERN_MACHO_EXPORTS}")
  set_property(TARGET applauncher APPEND PROPERTY LINK_DEPENDS
    ${QUERN_MACHO_EXPORTS})
else()
  message(STATUS "The linker takes no export list: the launcher exports "
    "every global symbol")
endif()

# The version marker, which nothing refers to, stays in the file.
target_link_options(applauncher PRIVATE -Wl,-u,_quernVersionMarker)
