# The Linux development host: it stands in for macOS with the same file
# names and variables, and supplies what dyld alone provides.

target_sources(applauncher_core PRIVATE
  ${PROJECT_SOURCE_DIR}/linux/native/common/LinuxExecutablePath.c)
target_include_directories(applauncher_core PUBLIC
  ${PROJECT_SOURCE_DIR}/linux/native/include)

# Export main and the flat hand-over functions, and nothing else, so that
# a runtime library can find them with dlsym.
set(QUERN_EXPORTS_LIST ${PROJECT_SOURCE_DIR}/linux/native/exports.list)
target_link_options(applauncher PRIVATE
  -Wl,--dynamic-list=${QUERN_EXPORTS_LIST})
set_property(TARGET applauncher APPEND PROPERTY LINK_DEPENDS
  ${QUERN_EXPORTS_LIST})
