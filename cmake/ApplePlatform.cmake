# Apple: the architecture and the oldest macOS version are set in the
# top-level CMakeLists.txt, before project().
#
# The real dyld provides _NSGetExecutablePath, so nothing of the Linux host
# layer is compiled here. A Mach-O executable exports all its global
# symbols: main and the flat hand-over functions that the runtime looks up
# with dlsym, and the exported data of the launcher, are found that way.

# The error alert's library: CoreFoundation, opened by its path when a start
# fails, never linked.
target_sources(applauncher_core PRIVATE
  ${PROJECT_SOURCE_DIR}/macosx/native/common/MacErrorAlertFramework.cpp)

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

# The executable links Cocoa although it calls nothing in it. A cross build
# without the Apple SDK has no frameworks; its toolchain file turns this off.
if(QUERN_LINK_COCOA)
  target_link_libraries(applauncher PRIVATE "-framework Cocoa")
else()
  message(STATUS "Apple build without the Cocoa framework")
endif()
