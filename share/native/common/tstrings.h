// String helpers shared by the whole launcher, and the stream-style message
// builder with which every message and log text is composed.
//
// All functions work on narrow byte strings; a character is a byte and no
// encoding conversion happens anywhere. None of them keeps state.

#ifndef TSTRINGS_H
#define TSTRINGS_H

#include <sstream>
#include <string>
#include <vector>

typedef std::vector<std::string> StringList;

namespace tstrings {

// Backed by int: every value other than FOLD_CASE compares byte-exactly.
enum CompareType : int { EXACT_CASE = 0, FOLD_CASE = 1 };

enum SplitType { KEEP_EMPTY = 0, SKIP_EMPTY = 1 };

// Every byte passed through tolower() of the default "C" locale: only the
// ASCII capitals change.
std::string toLower(const std::string& s);

bool equals(const std::string& a, const std::string& b,
            CompareType ct = EXACT_CASE);
bool startsWith(const std::string& s, const std::string& prefix,
                CompareType ct = EXACT_CASE);
bool endsWith(const std::string& s, const std::string& suffix,
              CompareType ct = EXACT_CASE);

// Appends the pieces of `s` between non-overlapping occurrences of
// `delimiter` to `out`; never clears `out`. An empty `s` or delimiter appends
// nothing.
void split(StringList& out, const std::string& s, const std::string& delimiter,
           SplitType st = KEEP_EMPTY);

// Replaces every occurrence of `search`, left to right and without overlap;
// inserted text is never searched again. Runs in time linear in the input
// and the output. An empty `search` returns a copy of `s`.
std::string replace(const std::string& s, const std::string& search,
                    const std::string& replacement);

// `It` is a forward iterator: the pieces are measured first, so that the
// result is allocated once.
template <class It>
std::string join(It first, It last, const std::string& delimiter) {
  std::string result;
  if (first == last) {
    return result;
  }
  std::string::size_type length = 0;
  for (It it = first; it != last; ++it) {
    length += it->size() + delimiter.size();
  }
  result.reserve(length - delimiter.size());
  result = *first;
  for (++first; first != last; ++first) {
    result += delimiter;
    result += *first;
  }
  return result;
}

// Message builder: everything streamed into it is appended to one text.
// Strings are appended byte for byte; other values go through the stream
// with its default formatting (integers in plain decimal).
class any {
 public:
  any() {}
  any(const char* s) {
    if (s) {
      data << s;
    }
  }
  any(const std::string& s) { *this << s; }

  any& operator<<(const std::string& s) {
    data.write(s.data(), static_cast<std::streamsize>(s.size()));
    return *this;
  }

  template <class T>
  any& operator<<(const T& v) {
    data << v;
    return *this;
  }

  std::string str() const { return data.str(); }

 private:
  any(const any&) = delete;
  any& operator=(const any&) = delete;

  std::ostringstream data;
};

}  // namespace tstrings

#endif  // TSTRINGS_H
