#include "tstrings.h"

#include <cctype>

namespace tstrings {

std::string toLower(const std::string& s) {
  std::string result(s);
  for (char& c : result) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

bool equals(const std::string& a, const std::string& b, CompareType ct) {
  if (ct == FOLD_CASE) {
    return toLower(a) == toLower(b);
  }
  return a == b;
}

bool startsWith(const std::string& s, const std::string& prefix,
                CompareType ct) {
  if (s.size() < prefix.size()) {
    return false;
  }
  return equals(s.substr(0, prefix.size()), prefix, ct);
}

bool endsWith(const std::string& s, const std::string& suffix, CompareType ct) {
  if (s.size() < suffix.size()) {
    return false;
  }
  return equals(s.substr(s.size() - suffix.size()), suffix, ct);
}

void split(StringList& out, const std::string& s, const std::string& delimiter,
           SplitType st) {
  if (s.empty() || delimiter.empty()) {
    return;
  }
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type pos = s.find(delimiter, start);
    if (pos == std::string::npos) {
      break;
    }
    // A one-byte segment before a delimiter is kept in both modes: only
    // empty segments are ever dropped.
    if (st != SKIP_EMPTY || pos > start) {
      out.push_back(s.substr(start, pos - start));
    }
    start = pos + delimiter.size();
  }
  if (st != SKIP_EMPTY || start < s.size()) {
    out.push_back(s.substr(start));
  }
}

std::string replace(const std::string& s, const std::string& search,
                    const std::string& replacement) {
  if (search.empty()) {
    return s;
  }
  std::string::size_type pos = s.find(search);
  if (pos == std::string::npos) {
    return s;
  }
  // Build the result in one pass: copy the text between occurrences and the
  // replacement for each occurrence. Erasing and inserting in place would be
  // quadratic in the number of occurrences. Counting them first sizes the
  // result once, so that it is neither copied as it grows nor left with
  // spare room.
  std::string::size_type count = 0;
  for (std::string::size_type at = pos; at != std::string::npos;
       at = s.find(search, at + search.size())) {
    ++count;
  }
  std::string result;
  result.reserve(s.size() - count * search.size() + count * replacement.size());
  std::string::size_type start = 0;
  do {
    result.append(s, start, pos - start);
    result += replacement;
    start = pos + search.size();
    pos = s.find(search, start);
  } while (pos != std::string::npos);
  result.append(s, start, std::string::npos);
  return result;
}

}  // namespace tstrings
