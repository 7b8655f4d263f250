// Whether a bundle switches on the launcher's error alert: QUERN_ERROR_ALERT
// set to the string "true" in the LSEnvironment dictionary of its
// Info.plist. The system sets those variables for the starts it makes (the
// Finder, the Dock, open), so only such starts show the alert.

#ifndef BUNDLECHECK_ERRORALERTSETTING_H
#define BUNDLECHECK_ERRORALERTSETTING_H

#include "PropertyList.h"
#include "Report.h"

namespace bundlecheck {

// Reads the setting from `root`, the top dictionary of
// report.infoPlistPath: sets report.errorAlert, and adds a finding for a
// value that would not switch the alert on, for a variable name one slip
// away from QUERN_ERROR_ALERT, and for an LSEnvironment that is not a
// dictionary.
void checkErrorAlert(const PlistValue& root, Report& report);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_ERRORALERTSETTING_H
