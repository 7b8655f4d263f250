// On macOS the notification functions are CoreFoundation's. The Apple build
// links Cocoa, which brings the framework into the process, so opening it
// at the moment of a failure costs little.

#include "ErrorAlert.h"

const char* ErrorAlert::frameworkPath() {
  return "/System/Library/Frameworks/CoreFoundation.framework/CoreFoundation";
}
