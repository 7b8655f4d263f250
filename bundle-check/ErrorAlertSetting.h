// Whether a bundle switches on the launcher's error alert: QUERN_ERROR_ALERT
// set to the string "true" in the LSEnvironment dictionary of its
// Info.plist. The system sets those variables for the starts it makes (the
// Finder, the Dock, open), so only such starts show the alert.

#ifndef BUNDLECHECK_ERRORALERTSETTING_H
#define BUNDLECHECK_ERRORALERTSETTING_H

#include "Report.h"

namespace bundlecheck {

// Reads the setting from `xml`, the text of report.infoPlistPath: sets
// report.errorAlert, and adds a finding for a value that would not switch
// the alert on and for an LSEnvironment that is not a dictionary. Never
// throws for what the text holds.
void checkErrorAlert(const std::string& xml, Report& report);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_ERRORALERTSETTING_H
