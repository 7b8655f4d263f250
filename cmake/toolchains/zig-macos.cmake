# Cross build for macOS 11 on 64-bit Arm (or, with
# QUERN_MACOS_ARCHITECTURES=x86_64, on Intel) from a Linux machine, with zig's
# clang drivers as the compilers and LLVM's Mach-O linker (ld64.lld, Debian's
# lld-16) as the linker. zig carries the macOS headers, the libSystem stubs
# and the sources of its C++ library, so the launcher and the stand-in
# runtime compile and link as real Mach-O files; it carries no Apple SDK and
# no frameworks.
#
# QUERN_ZIG_BIN names a directory holding five executables that forward to
# zig: zig ("zig" itself), zig-cc ("zig cc"), zig-c++ ("zig c++"), zig-ar and
# zig-ranlib. They also give zig its cache directories. tools/cross-build
# installs zig and writes them; QUERN_ZIG_BIN may also come from the
# environment.

# The architecture and the oldest macOS version come from the launcher's
# CMakeLists.txt, which sets them before project(); CMake hands both on to
# the compiler checks.
if(NOT CMAKE_OSX_ARCHITECTURES OR NOT CMAKE_OSX_DEPLOYMENT_TARGET)
  message(FATAL_ERROR
    "CMAKE_OSX_ARCHITECTURES and CMAKE_OSX_DEPLOYMENT_TARGET must be set "
    "before project(), as the launcher's CMakeLists.txt does")
endif()
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 20.0)
set(CMAKE_SYSTEM_PROCESSOR ${CMAKE_OSX_ARCHITECTURES})

if(NOT QUERN_ZIG_BIN)
  set(QUERN_ZIG_BIN "$ENV{QUERN_ZIG_BIN}")
endif()
if(NOT QUERN_ZIG_BIN OR NOT EXISTS "${QUERN_ZIG_BIN}/zig-c++" OR
   NOT EXISTS "${QUERN_ZIG_BIN}/zig")
  message(FATAL_ERROR
    "QUERN_ZIG_BIN must name the directory of the zig wrappers "
    "(tools/cross-build writes them); got '${QUERN_ZIG_BIN}'")
endif()
# The compiler checks run in their own projects, which read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUERN_ZIG_BIN)

# The target triple: zig selects its macOS headers and libSystem stubs by
# it, and writes its minimum macOS version into the files it links (it
# ignores -mmacosx-version-min). CMake passes it to every compile and link
# as --target=. zig calls Apple's arm64 aarch64. zig builds one architecture
# at a time; tools/cross-build joins them into universal files.
if(NOT CMAKE_OSX_ARCHITECTURES MATCHES "^(arm64|x86_64)$")
  message(FATAL_ERROR "The zig cross build makes one architecture, arm64 or "
    "x86_64, not '${CMAKE_OSX_ARCHITECTURES}'")
endif()
string(REPLACE arm64 aarch64 QUERN_ZIG_ARCH "${CMAKE_OSX_ARCHITECTURES}")
set(QUERN_ZIG_TARGET
  ${QUERN_ZIG_ARCH}-macos.${CMAKE_OSX_DEPLOYMENT_TARGET}-none)
include(${CMAKE_CURRENT_LIST_DIR}/zig-compilers.cmake)

# No SDK: no sysroot to pass, and no xcrun or xcode-select to ask for one.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "No Apple SDK in this cross build" FORCE)
# Nothing is installed from this build, so install names are never
# rewritten: the libraries get their final one, @rpath/<name>, at link time
# as on a Mac (without an SDK version CMake would write the build path).
set(CMAKE_INSTALL_NAME_TOOL "" CACHE FILEPATH "Not used by this cross build" FORCE)
set(CMAKE_BUILD_WITH_INSTALL_NAME_DIR ON)
set(CMAKE_INSTALL_NAME_DIR "@rpath")

# The linker. zig's own Mach-O linker exports every global symbol, hidden
# ones too, and refuses an export list; ld64.lld honours it. zig still
# compiles, and builds its C++ library and compiler runtime for the target
# into its cache on first use: a small C++ program linked by zig itself
# (ZIG_VERBOSE_LINK prints zig's link line) names those archives, and zig's
# lib folder holds the stub of libSystem for the deployment target. The
# compiler checks of CMake run in projects of their own that read this file
# again; they get the findings through CMAKE_TRY_COMPILE_PLATFORM_VARIABLES.
#
# ld64.lld must be release 15 or later: zig's clang (LLVM 16) writes the
# arm64 unwind tables (__eh_frame) without relocations for the functions
# they describe, which the linker infers; ld64.lld 14 copies them unchanged,
# so that no entry describes any function and a C++ exception that passes a
# function described there ends the process.
if(NOT QUERN_ZIG_RUNTIME)
  # Looked for at every configuration, never cached.
  unset(QUERN_LD64_LLD CACHE)
  find_program(QUERN_LD64_LLD NAMES ld64.lld-16 ld64.lld NO_CACHE)
  set(major 0)
  if(QUERN_LD64_LLD)
    execute_process(COMMAND "${QUERN_LD64_LLD}" --version
      OUTPUT_VARIABLE version ERROR_QUIET)
    if(version MATCHES "LLD ([0-9]+)")
      set(major ${CMAKE_MATCH_1})
    endif()
  endif()
  if(major LESS 15)
    message(FATAL_ERROR "ld64.lld of release 15 or later not found (Debian "
      "package lld-16); found '${QUERN_LD64_LLD}', release ${major}")
  endif()
  set(probe_dir "${CMAKE_BINARY_DIR}/CMakeFiles/zig-runtime-probe")
  file(MAKE_DIRECTORY "${probe_dir}")
  file(WRITE "${probe_dir}/probe.cpp"
    "#include <string>\nint main(int argc, char**) {\n"
    "  return static_cast<int>(std::to_string(argc).size());\n}\n")
  # zig builds the runtime as optimised as the program (-O2 here, as for
  # the release build) and, on first use, prints the link lines of its own
  # builds as well: the program's own is the one of "zig ld", and its order
  # of archives is kept, since it decides which definition the linker takes.
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env ZIG_VERBOSE_LINK=1
      "${QUERN_ZIG_BIN}/zig-c++" --target=${QUERN_ZIG_TARGET} -O2 probe.cpp
      -o probe
    WORKING_DIRECTORY "${probe_dir}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX MATCH "(^|\n)zig ld [^\n]*" link "${out}")
  string(REGEX MATCHALL "[^ \n]+[.]a" archives "${link}")
  list(REMOVE_DUPLICATES archives)
  if(NOT status EQUAL 0 OR NOT archives)
    message(FATAL_ERROR "zig did not link a C++ program for "
      "${QUERN_ZIG_TARGET} with its runtime archives:\n${out}")
  endif()
  execute_process(COMMAND "${QUERN_ZIG_BIN}/zig" env
    RESULT_VARIABLE status OUTPUT_VARIABLE env)
  if(status EQUAL 0)
    string(JSON zig_lib ERROR_VARIABLE error GET "${env}" lib_dir)
  endif()
  string(REGEX MATCH "^[0-9]+" major "${CMAKE_OSX_DEPLOYMENT_TARGET}")
  set(QUERN_ZIG_SYSTEM "${zig_lib}/libc/darwin/libSystem.${major}.tbd")
  if(NOT status EQUAL 0 OR NOT EXISTS "${QUERN_ZIG_SYSTEM}")
    message(FATAL_ERROR "zig has no libSystem stub ${QUERN_ZIG_SYSTEM}")
  endif()
  set(QUERN_ZIG_RUNTIME "${archives}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUERN_ZIG_RUNTIME
  QUERN_ZIG_SYSTEM QUERN_LD64_LLD)
# The link script takes the compiler's link line and runs ld64.lld.
set(link_launcher
  "${CMAKE_CURRENT_LIST_DIR}/ld64-lld-link" "--ld=${QUERN_LD64_LLD}"
  "--system=${QUERN_ZIG_SYSTEM}")
foreach(archive IN LISTS QUERN_ZIG_RUNTIME)
  list(APPEND link_launcher "--runtime=${archive}")
endforeach()
list(APPEND link_launcher --)
set(CMAKE_C_LINKER_LAUNCHER "${link_launcher}")
set(CMAKE_CXX_LINKER_LAUNCHER "${link_launcher}")
# zig's C++ library carries debug information: a debug map would name zig's
# cache (cmake/BuildPaths.cmake).
set(QUERN_NO_DEBUG_MAP ON)
