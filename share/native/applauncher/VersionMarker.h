// The marker by which a launcher file names its version: the prefix below,
// then the version (printable ASCII, no spaces) and a NUL byte, somewhere
// in the file. The launcher never reads or prints it; packagers, support and
// applauncher-check find it in the file (`strings FILE | grep`).

#ifndef VERSIONMARKER_H
#define VERSIONMARKER_H

#define QUERN_VERSION_MARKER_PREFIX "quern-launcher-version="

#endif  // VERSIONMARKER_H
