#include "VersionMarker.h"

// Nothing refers to the marker, so the linkers would drop it: "retain" keeps
// its section from the ELF linker's --gc-sections, "used" keeps it from the
// compiler and from the Mach-O linkers' dead stripping, and the Apple build
// also names it as a root of the link (-u). It is not exported.
__attribute__((used, retain)) const char quernVersionMarker[] =
    QUERN_VERSION_MARKER_PREFIX QUERN_VERSION;
