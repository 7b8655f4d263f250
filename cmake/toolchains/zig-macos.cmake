# Cross build for macOS 11 on 64-bit Arm (or, with
# QUERN_MACOS_ARCHITECTURES=x86_64, on Intel) from a Linux machine, with zig's
# clang drivers as the compilers. zig carries the macOS headers and the
# libSystem stubs, so the launcher and the stand-in runtime compile and link
# as real Mach-O files; it carries no Apple SDK and no frameworks.
#
# QUERN_ZIG_BIN names a directory holding four executables that forward to
# zig: zig-cc ("zig cc"), zig-c++ ("zig c++"), zig-ar and zig-ranlib. They
# also give zig its cache directories. tools/cross-build installs zig and
# writes them; QUERN_ZIG_BIN may also come from the environment.

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
if(NOT QUERN_ZIG_BIN OR NOT EXISTS "${QUERN_ZIG_BIN}/zig-c++")
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
set(CMAKE_C_COMPILER "${QUERN_ZIG_BIN}/zig-cc")
set(CMAKE_CXX_COMPILER "${QUERN_ZIG_BIN}/zig-c++")
set(CMAKE_C_COMPILER_TARGET ${QUERN_ZIG_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${QUERN_ZIG_TARGET})
# zig's Mach-O linker rejects an archive of the host's ar as malformed;
# zig's own archiver writes the Darwin format.
set(CMAKE_AR "${QUERN_ZIG_BIN}/zig-ar")
set(CMAKE_RANLIB "${QUERN_ZIG_BIN}/zig-ranlib")
# zig keeps every compiled object in its cache and hands it out again when
# the source and its headers are unchanged, even to a fresh build tree; it
# does not when asked for a dependency file (-MD), so CMake scans the
# dependencies itself.
set(CMAKE_DEPENDS_USE_COMPILER FALSE)

# No SDK: no sysroot to pass, and no xcrun or xcode-select to ask for one.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "No Apple SDK in this cross build" FORCE)
# Nothing is installed from this build, so install names are never
# rewritten: the libraries get their final one, @rpath/<name>, at link time
# as on a Mac (without an SDK version CMake would write the build path).
set(CMAKE_INSTALL_NAME_TOOL "" CACHE FILEPATH "Not used by this cross build" FORCE)
set(CMAKE_BUILD_WITH_INSTALL_NAME_DIR ON)
set(CMAKE_INSTALL_NAME_DIR "@rpath")

# The one build setting that differs from a build on a Mac: zig has no Apple
# frameworks, so this build does not link Cocoa (the launcher calls nothing
# in it; on a Mac it is linked all the same).
set(QUERN_LINK_COCOA OFF CACHE BOOL
  "Link the Cocoa framework on Apple platforms (zig has no frameworks)" FORCE)
