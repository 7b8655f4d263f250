// On macOS the notification functions are CoreFoundation's. The launcher
// links no framework: it opens this one only when a start fails and the
// bundle wants the alert, so a start that succeeds loads none. Since macOS
// 11 the framework is in the system's shared cache rather than a file at
// this path; the loader finds it there by the path all the same.

#include "ErrorAlert.h"

const char* ErrorAlert::frameworkPath() {
  return "/System/Library/Frameworks/CoreFoundation.framework/CoreFoundation";
}
