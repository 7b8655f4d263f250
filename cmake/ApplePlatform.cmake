# Apple: macOS 11 or later on 64-bit Arm. The real dyld provides
# _NSGetExecutablePath, and a Mach-O executable exports its global symbols,
# main and the flat hand-over functions among them.

if(QUERN_LINK_COCOA)
  target_link_libraries(applauncher PRIVATE "-framework Cocoa")
endif()
