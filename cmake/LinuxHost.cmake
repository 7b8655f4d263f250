# The Linux development host: it stands in for macOS with the same file
# names and variables, and supplies what dyld alone provides.

target_sources(applauncher_core PRIVATE
  ${PROJECT_SOURCE_DIR}/linux/native/common/LinuxExecutablePath.c)
# The error alert's library, found by the normal search.
target_sources(applauncher_core PRIVATE
  ${PROJECT_SOURCE_DIR}/linux/native/common/LinuxErrorAlertFramework.cpp)
# The system log: the host's syslog.
target_sources(applauncher_core PRIVATE
  ${PROJECT_SOURCE_DIR}/unix/native/common/UnixSystemLog.cpp)
target_include_directories(applauncher_core PUBLIC
  ${PROJECT_SOURCE_DIR}/linux/native/include)

# Export what a Mach-O executable exports of the launcher, and nothing else,
# so that a runtime library finds the same symbols with dlsym: main, the
# flat hand-over functions, and the data of the launcher (the section and
# property names, the command line, the path-list separator).
set(QUERN_EXPORTS_LIST ${PROJECT_SOURCE_DIR}/linux/native/exports.list)
target_link_options(applauncher PRIVATE
  -Wl,--dynamic-list=${QUERN_EXPORTS_LIST})
set_property(TARGET applauncher APPEND PROPERTY LINK_DEPENDS
  ${QUERN_EXPORTS_LIST})

# Start-up. Loading and relocating the shared C++ standard library would
# cost the launcher several times its own work at every start: it is linked
# in, and only what the launcher uses of it is kept. Shared libraries that
# the launcher does not use (compiler drivers add some) are not recorded,
# and relative relocations are packed where the linker and the C library
# support it (elsewhere the linker leaves them as they are). Sanitizer
# builds keep the shared library, which their runtimes expect.
if(QUERN_SANITIZER STREQUAL "")
  target_link_options(applauncher PRIVATE
    -static-libstdc++ -static-libgcc -Wl,--gc-sections -Wl,--as-needed)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LINK_OPTIONS -Wl,-z,pack-relative-relocs)
  check_cxx_source_compiles("int main() { return 0; }"
    QUERN_LINKER_PACKS_RELATIVE_RELOCS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(QUERN_LINKER_PACKS_RELATIVE_RELOCS)
    target_link_options(applauncher PRIVATE -Wl,-z,pack-relative-relocs)
  endif()
endif()
