// The development host has no CoreFoundation: the library of that name is
// looked for by the normal search (LD_LIBRARY_PATH), where tests put a
// stand-in of the notification functions.

#include "ErrorAlert.h"

const char* ErrorAlert::frameworkPath() { return "libCoreFoundation.so"; }
