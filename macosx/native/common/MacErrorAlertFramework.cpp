// On macOS the notification functions are CoreFoundation's. The Apple build
// links Cocoa, which brings the framework into the process, so opening it
// at the moment of a failure costs little. Since macOS 11 the framework is
// in the system's shared cache rather than a file at this path; the loader
// finds it there by the path all the same.

#include "ErrorAlert.h"

const char* ErrorAlert::frameworkPath() {
  return "/System/Library/Frameworks/CoreFoundation.framework/CoreFoundation";
}
