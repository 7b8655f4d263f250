// The bundle check's report as text for people and as one JSON object for
// packaging tools (its fields are documented in docs/checking-a-bundle.md).

#ifndef BUNDLECHECK_REPORTWRITER_H
#define BUNDLECHECK_REPORTWRITER_H

#include <ostream>

#include "Report.h"

namespace bundlecheck {

void writeText(const Report& report, std::ostream& out);
void writeJson(const Report& report, std::ostream& out);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_REPORTWRITER_H
