# No output names the machine that built it. Source positions (__FILE__ in
# the launcher's error positions, and the debug information) read as paths
# relative to the checkout, so the bytes do not depend on where the checkout
# or the build directory lives, and two clones build the same files. The
# launcher prints only base names of source files, so its diagnostics read
# as before.
#
# Where two maps match, GCC takes the last and clang the longest: the longer
# directory goes last, so both compilers pick the same.
set(QUERN_PATH_MAPS "${PROJECT_SOURCE_DIR}=.")
file(RELATIVE_PATH QUERN_BINARY_DIR_FROM_SOURCE
  "${PROJECT_SOURCE_DIR}" "${PROJECT_BINARY_DIR}")
if(QUERN_BINARY_DIR_FROM_SOURCE MATCHES "^[.][.]")
  list(APPEND QUERN_PATH_MAPS
    "${PROJECT_BINARY_DIR}=./${QUERN_BINARY_DIR_FROM_SOURCE}")
endif()
foreach(map IN LISTS QUERN_PATH_MAPS)
  add_compile_options("-ffile-prefix-map=${map}")
endforeach()

# A Mach-O file keeps no debug information of its own: the linker records
# where the object files were (debug map entries), which a debugger reads
# them from. Apple's linker writes those paths relative to the checkout
# (-oso_prefix); a linker that cannot leaves them out (-S). So does the zig
# cross build (QUERN_NO_DEBUG_MAP, set by its toolchain file): it links the
# C++ library that zig built into its cache, whose entries would name that
# cache by its absolute path.
if(APPLE)
  if(NOT QUERN_NO_DEBUG_MAP)
    include(CheckCXXSourceCompiles)
    set(CMAKE_REQUIRED_LINK_OPTIONS "-Wl,-oso_prefix,${PROJECT_SOURCE_DIR}/")
    check_cxx_source_compiles("int main() { return 0; }"
      QUERN_LINKER_OSO_PREFIX)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
  endif()
  if(QUERN_LINKER_OSO_PREFIX AND NOT QUERN_NO_DEBUG_MAP)
    add_link_options("-Wl,-oso_prefix,${PROJECT_SOURCE_DIR}/")
  else()
    add_link_options(-Wl,-S)
  endif()
endif()
