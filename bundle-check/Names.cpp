#include "Names.h"

#include <algorithm>
#include <cctype>

namespace bundlecheck {

namespace {

std::string folded(const std::string& s) {
  std::string result = trimmed(s);
  for (char& c : result) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

// Levenshtein distance, one row at a time.
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                         diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

std::string trimmed(const std::string& s) {
  const std::string::size_type first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return std::string();
  }
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::string likelyMeant(const std::string& name,
                        const std::vector<std::string>& candidates) {
  const std::string key = folded(name);
  // Names far longer than any candidate are not typos of one; this also
  // keeps the work small for hostile lines.
  if (key.empty() || key.size() > 64) {
    return std::string();
  }
  std::string best;
  size_t bestDistance = 0;
  for (const std::string& candidate : candidates) {
    const size_t distance = editDistance(key, folded(candidate));
    const size_t allowed = candidate.size() > 6 ? 2 : 1;
    if (distance <= allowed && (best.empty() || distance < bestDistance)) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace bundlecheck
