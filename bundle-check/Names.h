// Names as findings show them, and near-miss names: the recognised name a
// mistyped one most likely means.

#ifndef BUNDLECHECK_NAMES_H
#define BUNDLECHECK_NAMES_H

#include <string>
#include <vector>

namespace bundlecheck {

// `s` between double quotes, as findings name files, keys and values.
std::string inQuotes(const std::string& s);

// `s` without blanks, tabs and carriage returns at either end.
std::string trimmed(const std::string& s);

// The candidate that `name` most likely means: equal but for letter case or
// surrounding blanks, else at most two edits away (one for short names).
// Empty when none is that close.
std::string likelyMeant(const std::string& name,
                        const std::vector<std::string>& candidates);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_NAMES_H
