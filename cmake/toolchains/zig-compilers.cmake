# The compilers and archivers of a zig cross build for QUERN_ZIG_TARGET,
# from the wrappers in QUERN_ZIG_BIN; read by each zig toolchain file.
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
