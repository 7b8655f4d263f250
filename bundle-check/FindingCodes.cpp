#include "FindingCodes.h"

namespace bundlecheck {

namespace {

struct Row {
  const char* code;
  Severity severity;
  const char* meaning;
};

// In the order of Code, so that a code is its own index.
const Row rows[] = {
#define BUNDLECHECK_ROW(id, code, severity, meaning) \
  {code, Severity::severity, meaning},
    BUNDLECHECK_FINDING_CODES(BUNDLECHECK_ROW)
#undef BUNDLECHECK_ROW
};

const Row& rowOf(Code code) { return rows[static_cast<size_t>(code)]; }

}  // namespace

const char* codeName(Code code) { return rowOf(code).code; }

Severity severityOf(Code code) { return rowOf(code).severity; }

const char* meaningOf(Code code) { return rowOf(code).meaning; }

const char* severityName(Severity severity) {
  switch (severity) {
    case Severity::Error:
      return "error";
    case Severity::Warning:
      break;
    case Severity::Note:
      return "note";
  }
  return "warning";
}

void writeFindingTable(std::ostream& out) {
  out << "| Code | Severity | Means |\n| --- | --- | --- |\n";
  for (const Row& row : rows) {
    out << "| `" << row.code << "` | " << severityName(row.severity) << " | "
        << row.meaning << " |\n";
  }
}

}  // namespace bundlecheck
