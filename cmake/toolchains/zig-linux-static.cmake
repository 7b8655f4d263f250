# Static Linux build of the bundle check, for the CI machines of packagers:
# zig's clang drivers with musl as the C library and zig's libc++, linked
# into one file that runs on any Linux of its architecture with nothing
# installed. QUERN_LINUX_ARCHITECTURE is x86_64 or aarch64.
#
# QUERN_ZIG_BIN names the directory of the zig wrappers, as for
# zig-macos.cmake; tools/cross-build writes them.

if(NOT QUERN_ZIG_BIN)
  set(QUERN_ZIG_BIN "$ENV{QUERN_ZIG_BIN}")
endif()
if(NOT QUERN_ZIG_BIN OR NOT EXISTS "${QUERN_ZIG_BIN}/zig-c++")
  message(FATAL_ERROR
    "QUERN_ZIG_BIN must name the directory of the zig wrappers "
    "(tools/cross-build writes them); got '${QUERN_ZIG_BIN}'")
endif()
if(NOT QUERN_LINUX_ARCHITECTURE MATCHES "^(x86_64|aarch64)$")
  message(FATAL_ERROR "QUERN_LINUX_ARCHITECTURE must be x86_64 or aarch64, "
    "not '${QUERN_LINUX_ARCHITECTURE}'")
endif()
# The compiler checks run in their own projects, which read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUERN_ZIG_BIN
  QUERN_LINUX_ARCHITECTURE)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${QUERN_LINUX_ARCHITECTURE})
set(QUERN_ZIG_TARGET ${QUERN_LINUX_ARCHITECTURE}-linux-musl)
include(${CMAKE_CURRENT_LIST_DIR}/zig-compilers.cmake)

# The check alone is linked statically. No symbol table or debug
# information stays in the files (-s): zig's C and C++ libraries would
# bring the paths of zig's cache with them.
set(QUERN_STATIC_CHECK ON CACHE BOOL "Link applauncher-check statically" FORCE)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-s")
